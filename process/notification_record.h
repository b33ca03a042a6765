// The records the child installer sends through its standard output: four
// unsigned 32-bit little-endian numbers, back to back, no header. Pure byte
// work, so it is checked natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum NotificationKind : uint32_t {
    kNotifyError = 0,    // code, location, module id
    kNotifyProgress = 1, // goal, phase code, restart request
    kNotifyEnd = 2,      // written by the setup program once the child has ended
};

struct NotificationRecord {
    uint32_t kind;
    uint32_t value1;
    uint32_t value2;
    uint32_t value3;
};

inline constexpr size_t kNotificationRecordSize = 16;

inline NotificationRecord DecodeNotificationRecord(const uint8_t* bytes) {
    uint32_t values[4];
    for (int i = 0; i < 4; ++i) {
        values[i] = uint32_t(bytes[i * 4]) | uint32_t(bytes[i * 4 + 1]) << 8 |
                    uint32_t(bytes[i * 4 + 2]) << 16 | uint32_t(bytes[i * 4 + 3]) << 24;
    }
    return NotificationRecord{values[0], values[1], values[2], values[3]};
}

inline void EncodeNotificationRecord(const NotificationRecord& record, uint8_t* bytes) {
    const uint32_t values[4] = {record.kind, record.value1, record.value2, record.value3};
    for (int i = 0; i < 4; ++i) {
        for (int b = 0; b < 4; ++b) {
            bytes[i * 4 + b] = uint8_t(values[i] >> (8 * b));
        }
    }
}

// The Progress page ends itself once its bar reaches 100; only the install
// worker may end it. A child's goal (any 32-bit number) is held to 0 to 99.
inline constexpr int kChildProgressGoalLimit = 99;

inline int ChildProgressGoal(uint32_t reported) {
    return reported > uint32_t(kChildProgressGoalLimit) ? kChildProgressGoalLimit : int(reported);
}

// The child's command line; it starts with a blank and leaves out the
// program's own name, which is passed as the application name.
inline std::string ChildInstallerCommandLine(bool setupApiLog) {
    return std::string(" -std-pipe") + (setupApiLog ? " -setupapi-log" : " -log");
}
