#include "setup_log_api.h"

#include <cstring>

CSetupLogApi::CSetupLogApi(HANDLE logFile) : m_hLogFile(logFile) {}

CSetupLogApi::~CSetupLogApi() {
    if (m_bCaptureStarted) {
        EndSetupApiCapture();
    }
    // The application object may copy the file right after the installer is
    // gone; what was written must be on disk by then.
    if (m_hLogFile != INVALID_HANDLE_VALUE && m_hLogFile != nullptr) {
        FlushFileBuffers(m_hLogFile);
    }
}

bool CSetupLogApi::WritePiece(const char* bytes, DWORD length) {
    // Another thread may have appended since our last piece.
    SetFilePointer(m_hLogFile, 0, nullptr, FILE_END);
    DWORD written = 0;
    return WriteFile(m_hLogFile, bytes, length, &written, nullptr) && written == length;
}

void CSetupLogApi::WriteLine(const char* text, const char* second) {
    if (m_hLogFile == INVALID_HANDLE_VALUE || m_hLogFile == nullptr || text == nullptr) {
        return;
    }
    if (!WritePiece(text, DWORD(std::strlen(text)))) {
        return;
    }
    if (second != nullptr && !WritePiece(second, DWORD(std::strlen(second)))) {
        return;
    }
    WritePiece("\r\n", 2);
}

bool CSetupLogApi::BeginSetupApiCapture() {
    return false;
}

void CSetupLogApi::EndSetupApiCapture() {
    m_bCaptureStarted = false;
}
