// The message table: the rows for codes the service raises or the scan-engine
// library reports. The companion desktop program's caption and dialog rows are not
// carried, so those codes read by their names; the Japanese and Chinese columns of the
// rows below are empty too: no texts are carried for them.
#include "foundation/ErrorNameTable.h"

#include <iterator>

namespace kv::detail {

const MessageRow kMessageTable[] = {
    {0x29AA000D, {"Log destination folder is not set.", "", ""}},  // InvalidLogPath
    {0x29AA0031, {"Update-Thread.", "", ""}},                      // ThUpdate
    {0x32880002, {"", "", ""}},                                    // BreakInterrupt
    {0x32880003, {"The definition file is up-to-date.", "", ""}},  // AlreadyLastestDefinition
    {0x32880004,                                                   // FatalUpdateError
     {"Failed to update Virus Definition File. \nThis program cannot recover from the error and will shutdown.",
      "", ""}},
    {0x385A0025, {"InvalidInstallPath", "", ""}},  // InvalidInstallPath
    {0xFFFFFFFF, {"", "", ""}},                    // terminating row
};

const std::size_t kMessageTableSize = std::size(kMessageTable);

}  // namespace kv::detail
