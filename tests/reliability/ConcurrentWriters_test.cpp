// The service and four other processes append to the same month's log at once: the
// service writes an update record for every control-200 request the test sends while
// the writers (kv_logwriter) each append a few hundred entries. The writers pause halfway
// until the service has recorded an update, so that at least one record lands amid their
// entries however fast they are.
//
// What must survive: every writer's entry exactly once and whole, every update record of
// the service whole and none lost (one per update the engine ran), nothing interleaved.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "reliability/LogParser.h"
#include "reliability/ReliabilityCommon.h"
#include "support/InstalledService.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

constexpr unsigned kWriters = 4;
constexpr unsigned kEntriesPerWriter = 400;

TEST(ConcurrentWriters, EveryEntryOnceAndWholeBesideTheServicesRecords) {
  const std::wstring root = test::FreshFolder(L"rel_writers");
  const std::wstring trace = root + L"\\trace.txt";
  {
    test::InstalledService service(root, L"app", reltest::FaultBuiltin(), "", L"FaultEngine.dll");
    ASSERT_TRUE(service.Ready());
    ASSERT_TRUE(test::WriteFileBytes(service.Folder() + L"\\FaultEngine.ini",
                                     "TraceFile=" + reltest::Narrow(trace) + "\r\nDefinitionVersion=w1\r\n"));
    ASSERT_TRUE(service.Service().Start());
    ASSERT_TRUE(service.Service().WaitForState(SERVICE_RUNNING));
    ASSERT_TRUE(service.WaitForLog("[Update_", 1)) << service.Log();

    reltest::NamedEvent go(L"kv_reliability_writers_go_" + std::to_wstring(::GetCurrentProcessId()));
    reltest::NamedEvent resume(L"kv_reliability_writers_resume_" + std::to_wstring(::GetCurrentProcessId()));
    ASSERT_NE(go.Get(), nullptr);
    ASSERT_NE(resume.Get(), nullptr);
    std::vector<std::unique_ptr<reltest::ChildProcess>> writers;
    for (unsigned id = 0; id < kWriters; ++id) {
      writers.push_back(std::make_unique<reltest::ChildProcess>());
      ASSERT_TRUE(writers.back()->Start(L"kv_logwriter", L"write \"" + service.Folder() + L"\\log\" " +
                                                             std::to_wstring(id) + L" " +
                                                             std::to_wstring(kEntriesPerWriter) + L" " + go.Name() +
                                                             L" " + resume.Name()));
    }
    ::SetEvent(go.Get());
    ASSERT_TRUE(service.WaitForLog("[Writer", kWriters * (kEntriesPerWriter / 2), 60000)) << "the writers' first halves";

    // Update after update while any writer still writes (and at least three).
    int requested = 1;
    auto anyWriterRunning = [&] {
      for (const auto& writer : writers) {
        if (writer->Running()) return true;
      }
      return false;
    };
    while (requested < 4 || anyWriterRunning()) {
      ASSERT_TRUE(reltest::RequestUpdate(service.Service(), [&] {
        return reltest::TraceCalls(trace, "UpdateDefinition") > requested;
      }));
      ++requested;
      ASSERT_TRUE(service.WaitForLog("[Update_", requested, 30000)) << "update " << requested << "\n" << service.Log();
      ::SetEvent(resume.Get());
      ASSERT_LT(requested, 500) << "the writers do not end";
    }
    for (const auto& writer : writers) EXPECT_EQ(writer->Wait(), 0u);
    std::printf("[ writers ] %d updates recorded while %u writers appended %u entries each\n", requested, kWriters,
                kEntriesPerWriter);

    ASSERT_TRUE(service.Service().StopAndWait());
    EXPECT_EQ(service.Service().Query().dwWin32ExitCode, 0u);

    const std::string log = service.Log();
    const reltest::ParsedLog parsed = reltest::ParseLog(log, {"DefinitionVersion=w1", "EngineVersion=fault-1", "Result=0x0:Success", "TotalTime=#"});
    EXPECT_TRUE(parsed.problems.empty()) << parsed.problems.size() << " problems, the first: " << parsed.problems[0]
                                         << "\nthe log begins:\n"
                                         << log.substr(0, 1500);
    EXPECT_EQ(parsed.updateRecords, requested);
    int amidWriters = 0;
    for (int at : parsed.updateEntries) amidWriters += at > parsed.firstWriterEntry && at < parsed.lastWriterEntry;
    EXPECT_GT(amidWriters, 0) << "the service's records must land while the writers write";
    EXPECT_EQ(parsed.updateRecords, reltest::TraceCalls(trace, "UpdateDefinition")) << "one record per update";
    EXPECT_EQ(parsed.writerEntries.size(), static_cast<std::size_t>(kWriters * kEntriesPerWriter));
    for (unsigned id = 0; id < kWriters; ++id) {
      for (unsigned index = 0; index < kEntriesPerWriter; ++index) {
        const auto found = parsed.writerEntries.find({id, index});
        EXPECT_TRUE(found != parsed.writerEntries.end() && found->second == 1)
            << "writer " << id << " entry " << index << " seen "
            << (found == parsed.writerEntries.end() ? 0 : found->second) << " times";
      }
    }
  }
  test::RemoveTree(root);
}

}  // namespace
}  // namespace kv
