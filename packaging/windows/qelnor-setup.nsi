; The 64-bit Windows installer, made by windows.sh (scripts/windows-package.sh):
;   makensis -INPUTCHARSET UTF8 -DVERSION=2.0 -DSOURCE=<deployed folder> -DOUTFILE=<setup.exe>
; It installs the deployed folder into Program Files, adds a Start-menu entry and an
; uninstaller, and registers the uninstaller with Windows. /S installs silently.
Unicode true
; A 32-bit installer would not start on a system that runs 64-bit programs only.
Target amd64-unicode
SetCompressor /SOLID lzma

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

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
  SetShellVarContext all
  SetRegView 64
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

; Removes what the installer put there and nothing else, in case the folder was shared.
Section Uninstall
  SetShellVarContext all
  SetRegView 64
  Delete "${MENU}\${TITLE}.lnk"
  Delete "${MENU}\卸载 Uninstall.lnk"
  RMDir "${MENU}"
  Delete "$INSTDIR\qelnor-setup.exe"
  Delete "$INSTDIR\qelnor-cli.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\*.dll"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\licenses"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
