// Reads a month's log entry by entry and says what is wrong with it: an entry torn,
// interleaved with another, or of an unknown shape. Knows the service's update and
// next-time records and the entries of the test writer (kv_logwriter).
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kv::reltest {

// The entry kv_logwriter writes as writer `id` number `index`, as stored (CR LF).
inline std::string WriterEntry(unsigned id, unsigned index) {
  const std::string data(10 + (index * 7 + id) % 60, static_cast<char>('a' + id % 26));
  return "[Writer" + std::to_string(id) + ":" + std::to_string(index) + "]\r\nData=" + data + "\r\n";
}

struct ParsedLog {
  std::map<std::pair<unsigned, unsigned>, int> writerEntries;  // (id, index) -> times seen
  int updateRecords = 0;
  // Entry numbers (in file order) of the first and last writer entry, and of every update
  // record: shows whether the service wrote while the writers did.
  int firstWriterEntry = -1;
  int lastWriterEntry = -1;
  std::vector<int> updateEntries;
  int nextTimeRecords = 0;
  std::vector<std::string> problems;
};

namespace detail {

inline bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

inline bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace detail

// `updateLines`: the lines an update record must hold after its header, in order; a
// line given ending in '#' stands for that text followed by decimal digits.
inline ParsedLog ParseLog(const std::string& log, const std::vector<std::string>& updateLines) {
  ParsedLog parsed;
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < log.size()) {
    const std::size_t end = log.find("\r\n", begin);
    if (end == std::string::npos) {
      parsed.problems.push_back("unterminated last line: " + log.substr(begin));
      break;
    }
    lines.push_back(log.substr(begin, end - begin));
    begin = end + 2;
  }
  int entry = 0;
  for (std::size_t i = 0; i < lines.size();) {
    const std::string& line = lines[i];
    const std::string where = "line " + std::to_string(i + 1) + " '" + line + "'";
    if (detail::StartsWith(line, "[Writer")) {
      unsigned id = 0, index = 0;
      char close = 0;
      if (std::sscanf(line.c_str(), "[Writer%u:%u%c", &id, &index, &close) != 3 || close != ']' ||
          i + 1 >= lines.size() || WriterEntry(id, index) != line + "\r\n" + lines[i + 1] + "\r\n") {
        parsed.problems.push_back("torn writer entry at " + where);
        ++i;
        continue;
      }
      ++parsed.writerEntries[{id, index}];
      if (parsed.firstWriterEntry < 0) parsed.firstWriterEntry = entry;
      parsed.lastWriterEntry = entry++;
      i += 2;
    } else if (detail::StartsWith(line, "[Update_")) {
      std::size_t at = i + 1;
      bool whole = line.size() == 24 && line.back() == ']';
      for (const std::string& key : updateLines) {
        const bool digits = !key.empty() && key.back() == '#';
        const std::string prefix = digits ? key.substr(0, key.size() - 1) : key;
        whole = whole && at < lines.size() &&
                (digits ? detail::StartsWith(lines[at], prefix.c_str()) && detail::AllDigits(lines[at].substr(prefix.size()))
                        : lines[at] == key);
        ++at;
      }
      whole = whole && at < lines.size() && lines[at].empty();
      if (!whole) {
        parsed.problems.push_back("torn update record at " + where);
        ++i;
        continue;
      }
      ++parsed.updateRecords;
      parsed.updateEntries.push_back(entry++);
      i = at + 1;
    } else if (detail::StartsWith(line, "[NextTime_")) {
      std::size_t at = i + 1;
      while (at < lines.size() && !lines[at].empty() &&
             (detail::StartsWith(lines[at], ";") || detail::StartsWith(lines[at], "NextTime=") ||
              detail::StartsWith(lines[at], "UpdateTime="))) {
        ++at;
      }
      if (at >= lines.size() || !lines[at].empty()) {
        parsed.problems.push_back("torn next-time record at " + where);
        ++i;
        continue;
      }
      ++parsed.nextTimeRecords;
      ++entry;
      i = at + 1;
    } else if (detail::StartsWith(line, "[Mitigations_")) {
      // Once per start where the system leaves a mitigation off (Wine: all of them).
      if (i + 2 >= lines.size() || !detail::StartsWith(lines[i + 1], "NotInEffect=") || !lines[i + 2].empty()) {
        parsed.problems.push_back("torn mitigations record at " + where);
        ++i;
        continue;
      }
      ++entry;
      i += 3;
    } else {
      parsed.problems.push_back("unexpected " + where);
      ++i;
    }
  }
  return parsed;
}

}  // namespace kv::reltest
