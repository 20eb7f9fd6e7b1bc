; The 64-bit Windows installer, made by windows.sh (scripts/windows-package.sh):
;   makensis -INPUTCHARSET UTF8 -DVERSION=2.0 -DSOURCE=<deployed folder> -DOUTFILE=<setup.exe>
; It installs the deployed folder into Program Files, adds a Start-menu entry and an
; uninstaller, and registers the uninstaller with Windows. /S installs silently.
;
; Windows keeps a running program's files in use: they can be neither replaced nor removed. So
; both the installer and the uninstaller first make sure that no program of this installation
; runs: interactively they ask for it to be closed (Retry or Cancel); silently (/S) they end
; with error level 2 and change nothing.
Unicode true
; A 32-bit installer would not start on a system that runs 64-bit programs only.
Target amd64-unicode
SetCompressor /SOLID lzma
; A file that cannot be written ends the installation (Retry or Cancel; Cancel when silent)
; instead of being skipped, which would leave a mix of two versions.
AllowSkipFiles off

!include LogicLib.nsh

!define TITLE "QELNOR彩屏设置软件 QELNOR Colour Screen Setup"
!define MENU "$SMPROGRAMS\QELNOR"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\qelnor-setup"

Name "${TITLE}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\QELNOR\qelnor-setup"
RequestExecutionLevel admin
ShowInstDetails show
LicenseText "本程序附带的 Qt 库使用 LGPL-3.0 许可。 The Qt libraries that come with this program are under the LGPL-3.0."
LicenseData "${SOURCE}\licenses\README-Qt.txt"

; $R0 becomes $R1, the name of a program file in $INSTDIR, when that program runs. Windows
; refuses a running program's file to a writer; the file is opened and closed unchanged.
!macro RUNNING_FUNCTIONS un
Function ${un}noteIfRunning
  ${If} ${FileExists} "$INSTDIR\$R1"
    ClearErrors
    FileOpen $R2 "$INSTDIR\$R1" a
    ${If} ${Errors}
      StrCpy $R0 $R1
    ${Else}
      FileClose $R2
    ${EndIf}
  ${EndIf}
FunctionEnd

; Returns once no program of this installation runs, or aborts with error level 2 when the
; operator cancels, and at once when silent.
Function ${un}closeRunningPrograms
  retry:
  StrCpy $R0 ""
  StrCpy $R1 qelnor-setup.exe
  Call ${un}noteIfRunning
  StrCpy $R1 qelnor-cli.exe
  Call ${un}noteIfRunning
  ${If} $R0 == ""
    Return
  ${EndIf}
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${RUNNING_TEXT}" /SD IDCANCEL IDRETRY retry
  DetailPrint "$INSTDIR\$R0 正在运行，未做任何改动。 $INSTDIR\$R0 is running: nothing was changed."
  SetErrorLevel 2
  Abort
FunctionEnd
!macroend
!define RUNNING_TEXT "$INSTDIR\$R0 正在运行。请关闭它（窗口，或运行它的命令行），再按“重试”；按“取消”则不做任何改动。$\n$\n$INSTDIR\$R0 is running. Close it (its window, or the command line that runs it), then press Retry. Cancel changes nothing."
!insertmacro RUNNING_FUNCTIONS ""
!insertmacro RUNNING_FUNCTIONS "un."

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
  SetShellVarContext all
  SetRegView 64
  Call closeRunningPrograms
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "${MENU}"
  CreateShortcut "${MENU}\${TITLE}.lnk" "$INSTDIR\qelnor-setup.exe"
  CreateShortcut "${MENU}\卸载 Uninstall.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "QELNOR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qelnor-setup.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer put there and nothing else, in case the folder was shared. The
; uninstaller and its entries go last, and only once the program's files are gone, so that a
; file that could not be removed can still be uninstalled later.
Section Uninstall
  SetShellVarContext all
  SetRegView 64
  Call un.closeRunningPrograms
  Delete "$INSTDIR\qelnor-setup.exe"
  Delete "$INSTDIR\qelnor-cli.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\*.dll"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\licenses"
  ${If} ${FileExists} "$INSTDIR\qelnor-setup.exe"
  ${OrIf} ${FileExists} "$INSTDIR\qelnor-cli.exe"
  ${OrIf} ${FileExists} "$INSTDIR\LICENSE.txt"
  ${OrIf} ${FileExists} "$INSTDIR\*.dll"
  ${OrIf} ${FileExists} "$INSTDIR\platforms"
  ${OrIf} ${FileExists} "$INSTDIR\styles"
  ${OrIf} ${FileExists} "$INSTDIR\licenses"
    MessageBox MB_OK|MB_ICONSTOP "有些文件无法删除，卸载程序仍留在 $INSTDIR。请关闭使用它们的程序后再卸载一次。$\n$\nSome files could not be removed; the uninstaller stays in $INSTDIR. Close the programs that use them and uninstall again." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  Delete "${MENU}\${TITLE}.lnk"
  Delete "${MENU}\卸载 Uninstall.lnk"
  RMDir "${MENU}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
