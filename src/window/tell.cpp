#include "window/tell.h"

#include <QTextStream>

#ifdef Q_OS_WIN
#include "window/messagebox.h"

#include <windows.h>

namespace {

// Output redirected to a file or a pipe is where the caller reads it. A character device (the
// NUL device a launcher may hand over) is no reader.
bool redirected(DWORD stream) {
  const HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
    return false;
  const DWORD type = GetFileType(handle);
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

// A program built for the window has no console; the one of the command prompt that started it
// can be borrowed for the text.
bool toParentConsole(const QString &text) {
  if (!AttachConsole(ATTACH_PARENT_PROCESS))
    return false;
  const HANDLE console =
      CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  bool written = false;
  if (console != INVALID_HANDLE_VALUE) {
    const QString lines =
        QStringLiteral("\r\n") + QString(text).replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    DWORD count = 0;
    written = WriteConsoleW(console, reinterpret_cast<const wchar_t *>(lines.utf16()),
                            DWORD(lines.size()), &count, nullptr) != 0;
    CloseHandle(console);
  }
  FreeConsole();
  return written;
}

} // namespace

void tell(const QString &text, Told kind) {
  const DWORD stream = kind == Told::Answer ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  if (redirected(stream)) {
    QTextStream(kind == Told::Answer ? stdout : stderr) << text << Qt::flush;
  } else if (!toParentConsole(text)) {
    const QString title = applicationTitle();
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t *>(text.trimmed().utf16()),
                reinterpret_cast<const wchar_t *>(title.utf16()),
                MB_OK | (kind == Told::Answer ? MB_ICONINFORMATION : MB_ICONWARNING));
  }
}

#else

void tell(const QString &text, Told kind) {
  QTextStream(kind == Told::Answer ? stdout : stderr) << text << Qt::flush;
}

#endif
