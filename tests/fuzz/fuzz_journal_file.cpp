// Any bytes as a journal found at start-up: a file read encodes back to the same bytes,
// and the replay and the checks of the places hold on whatever is accepted.
#include "fuzz_support.h"
#include "journal_file.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const DecodedJournal decoded = DecodeJournalFile(bytes);
    if (!decoded.problem.empty()) {
        Require(decoded.records.empty());
        return 0;
    }
    Require(decoded.wholeBytes <= size);
    if (!decoded.records.empty()) {
        std::string again = EncodeJournalHeader();
        for (const JournalRecord& record : decoded.records) {
            again += EncodeJournalRecord(record);
        }
        Require(again == bytes.substr(0, decoded.wholeBytes));
    }
    ReplayedJournal journal;
    std::string problem;
    if (ReplayJournal(decoded.records, &journal, &problem)) {
        const MachinePlaces machine{"{7C3E5A10-2B4D-4E6F-9A81-3D5C7B9E1F02}",
                                    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                                    "{7C3E5A10-2B4D-4E6F-9A81-3D5C7B9E1F02}",
                                    "C:\\windows", "C:\\ProgramData\\Programs",
                                    "C:\\Users\\Public\\Desktop"};
        CheckJournalPlaces(journal, machine, &problem);
    }
    return 0;
}
