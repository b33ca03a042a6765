// What an installation needs from whoever runs it: somewhere to report its
// progress, and the user's choices. The application provides both; the
// install process knows nothing more of it.
#pragma once

#include <string>

class IInstallProgress {
public:
    // The goal the bar moves toward, and the phase text (an index into the
    // phase table) shown above it.
    virtual void SetProgress(int goal, int phase) = 0;
    // Where the bar stands now (rollback moves it back step by step).
    virtual void SetProgressPosition(int value) = 0;
    // 1 while installing, 0 while rolling back.
    virtual void SetProgressDirection(int value) = 0;

protected:
    ~IInstallProgress() = default;
};

// The choices an installation is made with, from the wizard's pages or the
// command line.
struct InstallChoices {
    std::string m_strInstallDir;
    std::string m_strStartMenuFolder;
    int m_bDesktopIcon = 1;
    int m_bQuickLaunchIcon = 1;
    int m_bFirewallRules = 1;
};
