// The setup log's writer, and the copy of what the system's SetupAPI device
// log gained while the installer worked. Every line of the installer and the
// install process goes through WriteLine; the file itself belongs to the
// application object, which opens it and closes it after this object is gone.
#pragma once

#include "handles.h"

#include <windows.h>

#include <cstdint>
#include <string>

class CSetupLogApi {
public:
    // `logFile` stays owned by the caller; an invalid handle makes every write a no-op.
    explicit CSetupLogApi(HANDLE logFile);
    // Ends a started capture, then flushes the setup log (which stays open).
    virtual ~CSetupLogApi();
    CSetupLogApi(const CSetupLogApi&) = delete;
    CSetupLogApi& operator=(const CSetupLogApi&) = delete;

    // Appends `text`, then `second` directly after it (no separator), then CR LF.
    // Several threads write without a lock, so each piece is written at the
    // current end of the file: pieces of two lines may interleave, but no line
    // overwrites another. A failed write ends the line there, without CR LF.
    void WriteLine(const char* text, const char* second = nullptr);

    // Remembers how long the SetupAPI device log is now and raises the
    // system's SetupAPI log level (where a level is set at all) until the
    // capture ends. True when the capture started; no failure is reported.
    // Calling it again while a capture runs changes nothing.
    bool BeginSetupApiCapture();
    // Puts the saved log level back and copies what the SetupAPI log gained
    // since Begin (less than 2 MiB, else nothing) into the setup log between
    // two marker lines. No failure is reported.
    void EndSetupApiCapture();

    HANDLE GetLogFile() const { return m_hLogFile; }

private:
    bool HasLogFile() const;
    bool WritePiece(const char* bytes, DWORD length);
    void RestoreLogLevel();
    void CopyLogGrowth();

    HANDLE m_hLogFile;
    // "Software\Microsoft\Windows\CurrentVersion\Setup" below HKLM while a
    // capture runs: LogLevel is written back through it.
    UniqueHkey m_setupKey;
    bool m_bCaptureStarted = false;
    bool m_bLevelChanged = false;
    uint64_t m_nStartSize = 0;
    DWORD m_dwSavedLevel = 0;
    std::string m_strSetupApiLogPath;
};
