// The product's own installer program, run from the install folder as a child
// process: its notifications arrive through a pipe on its standard output and
// its log lines go straight into the setup log through its standard error.
#include "install_app.h"
#include "install_process.h"
#include "notification_record.h"
#include "product_profile.h"
#include "setup_error.h"

#include <string>

namespace {

// A pipe may hand over a record in pieces; only whole records count, or every
// record after a short read would be read out of step.
bool ReadWholeRecord(HANDLE pipe, uint8_t* bytes) {
    DWORD total = 0;
    while (total < kNotificationRecordSize) {
        DWORD got = 0;
        if (!ReadFile(pipe, bytes + total, DWORD(kNotificationRecordSize - total), &got, nullptr) ||
            got == 0) {
            return false;
        }
        total += got;
    }
    return true;
}

// The setup's own write end stays open for the whole run, so the reader never
// sees end-of-file; this record is what stops it when the child reported no
// failure (or never ran).
void WriteEndRecord(HANDLE pipe) {
    uint8_t bytes[kNotificationRecordSize];
    EncodeNotificationRecord(NotificationRecord{kNotifyEnd, 0, 0, 0}, bytes);
    DWORD written = 0;
    WriteFile(pipe, bytes, sizeof bytes, &written, nullptr);
}

} // namespace

DWORD WINAPI CInstallProcess::NotificationThread(LPVOID parameter) {
    auto* self = static_cast<CInstallProcess*>(parameter);
    uint8_t bytes[kNotificationRecordSize];
    while (ReadWholeRecord(self->m_hPipeRead, bytes)) {
        const NotificationRecord record = DecodeNotificationRecord(bytes);
        if (record.kind == kNotifyError) {
            self->m_dwNotifiedError = record.value1;
            self->m_dwNotifiedLocation = record.value2;
            self->m_dwNotifiedModule = record.value3;
            self->LogCode("Internal error: ", record.value1);
            break;
        }
        if (record.kind != kNotifyProgress) {
            break;
        }
        // A goal of 100 or more would end the Progress page while the child
        // still works, and the wizard would go on as if the install were done.
        self->m_pApp->SetProgress(ChildProgressGoal(record.value1), int(record.value2));
        if (record.value3 != 0) {
            *self->GetRestartFlagPointer() = 1;
        }
        Sleep(100);
    }
    self->Log("Notification thread is finished!");
    return 0;
}

void CInstallProcess::RunChildInstaller() {
    const ProductProfile& profile = CurrentProfile();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};

    m_hPipeRead = nullptr;
    m_hPipeWrite = nullptr;
    m_dwNotifiedError = 0;

    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    HANDLE thread = nullptr;
    if (CreatePipe(&m_hPipeRead, &m_hPipeWrite, &inheritable, 0)) {
        thread = CreateThread(nullptr, 0, &CInstallProcess::NotificationThread, this,
                              CREATE_SUSPENDED, nullptr);
        if (thread != nullptr) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = m_hPipeWrite;
            startup.hStdError = m_hChildStandardError;
            ResumeThread(thread);
        }
    } else {
        m_hPipeRead = nullptr;
        m_hPipeWrite = nullptr;
    }

    const std::string& folder = m_pApp->m_strInstallDir;
    const std::string application = folder + "\\" + profile.childInstaller;
    std::string commandLine = ChildInstallerCommandLine(m_bSetupApiLog != 0);
    const BOOL started = CreateProcessA(application.c_str(), &commandLine[0], nullptr, nullptr,
                                        TRUE, 0, nullptr, folder.c_str(), &startup, &process);
    const DWORD startError = GetLastError();

    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (thread != nullptr) {
            WriteEndRecord(m_hPipeWrite);
            Log("Waiting for notification thread!");
            if (WaitForSingleObject(thread, 5000) != WAIT_OBJECT_0) {
                Log("Terminate notification thread!");
                TerminateThread(thread, 0xFFFFFFFF);
                WaitForSingleObject(thread, INFINITE);
            }
        }
        Sleep(250);
    } else if (thread != nullptr) {
        // Nobody else will ever write to the pipe; without the end record
        // the thread would be left blocked on a pipe we are about to close.
        WriteEndRecord(m_hPipeWrite);
        if (WaitForSingleObject(thread, 5000) != WAIT_OBJECT_0) {
            TerminateThread(thread, 0xFFFFFFFF);
        }
    }

    if (profile.isServer) {
        DeleteInstalledFile(folder.c_str(), "usbd.sys");
    }

    if (thread != nullptr) {
        CloseHandle(thread);
    }
    if (m_hPipeRead != nullptr) {
        CloseHandle(m_hPipeRead);
        m_hPipeRead = nullptr;
    }
    if (m_hPipeWrite != nullptr) {
        CloseHandle(m_hPipeWrite);
        m_hPipeWrite = nullptr;
    }

    if (!started) {
        throw CSetupError{kModuleInstallProcess, 1294, startError};
    }
    if (m_dwNotifiedError != 0) {
        throw CSetupError{uint16_t(m_dwNotifiedModule), uint16_t(m_dwNotifiedLocation),
                          m_dwNotifiedError};
    }
}
