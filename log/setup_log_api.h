// The setup log's writer. Every line of the installer and the install process
// goes through WriteLine; the file itself belongs to the application object,
// which opens it and closes it after this object is gone.
#pragma once

#include <windows.h>

class CSetupLogApi {
public:
    // `logFile` stays owned by the caller; an invalid handle makes every write a no-op.
    explicit CSetupLogApi(HANDLE logFile);
    virtual ~CSetupLogApi();
    CSetupLogApi(const CSetupLogApi&) = delete;
    CSetupLogApi& operator=(const CSetupLogApi&) = delete;

    // Appends `text`, then `second` directly after it (no separator), then CR LF.
    // Several threads write without a lock, so each piece is written at the
    // current end of the file: pieces of two lines may interleave, but no line
    // overwrites another. A failed write ends the line there, without CR LF.
    void WriteLine(const char* text, const char* second = nullptr);

    // The SetupAPI device-log capture. Not built yet: Begin starts nothing and
    // returns false, End has nothing to copy. The destructor already ends a
    // started capture, so adding it changes no caller.
    bool BeginSetupApiCapture();
    void EndSetupApiCapture();

    HANDLE GetLogFile() const { return m_hLogFile; }

private:
    bool WritePiece(const char* bytes, DWORD length);

    HANDLE m_hLogFile;
    bool m_bCaptureStarted = false;
};
