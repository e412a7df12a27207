// ResultChain: the status value every fallible operation returns.
//
// An ordered list of 32-bit codes; empty means success. The code stored last is the
// root cause and is read first; each place a failure passes through appends nothing
// but prepends its line marker, so the text form reads "cause, innermost place, ...,
// outermost place". The success path holds an empty vector and never allocates.
//
// Thread safety: a plain value. Copy it between threads; never share one instance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

using ErrorCode = std::uint32_t;

constexpr ErrorCode LineBase = 0x20000000;

// Source line n as a chain code (LineBase + n, n limited to 0..65535).
constexpr ErrorCode LineMarker(unsigned line) { return LineBase + (line & 0xFFFFu); }

constexpr bool IsLineMarker(ErrorCode c) { return c >= LineBase && c <= LineBase + 0xFFFFu; }
constexpr bool IsSystemCode(ErrorCode c) { return (c & 0x20000000u) == 0; }
constexpr bool IsFamilyCode(ErrorCode c) { return !IsSystemCode(c) && !IsLineMarker(c); }

// nodiscard: a failure dropped without a word is lost; a caller that may ignore one says
// so with a (void) cast and the reason.
class [[nodiscard]] ResultChain {
 public:
  ResultChain() = default;
  // Code 0 gives the empty (success) chain. Implicit so that a bare code can be returned.
  ResultChain(ErrorCode code) {  // NOLINT(google-explicit-constructor)
    if (code != 0) codes_.push_back(code);
  }

  std::size_t Count() const { return codes_.size(); }
  // The root cause, or 0 for success.
  ErrorCode Last() const { return codes_.empty() ? 0 : codes_.back(); }
  bool Failed() const { return !codes_.empty(); }
  bool Succeeded() const { return codes_.empty(); }
  bool Contains(ErrorCode code) const;

  // Stores code as the new root cause; 0 empties the chain.
  void Add(ErrorCode code);

  // Codes in stored order (outermost marker first, root cause last).
  const std::vector<ErrorCode>& Codes() const { return codes_; }

  // "0x%X:text," pieces from the root cause outwards; "0x0:Success" when empty.
  std::wstring ToText() const;

  // Reads as all of a followed by all of b. An empty a gives an empty result.
  friend ResultChain operator+(const ResultChain& a, const ResultChain& b);

  friend bool operator==(const ResultChain& a, const ResultChain& b) { return a.codes_ == b.codes_; }

 private:
  std::vector<ErrorCode> codes_;
};

// The calling thread's GetLastError() as a chain (empty when it is 0).
ResultChain LastErrorChain();

}  // namespace kv

// A chain of x followed by the line marker of the statement that uses the macro.
// x is evaluated exactly once; it may be a code or a chain.
#define KV_MARK(x) (::kv::ResultChain(x) + ::kv::LineMarker(__LINE__))

// Returns from the enclosing function, with this line's marker, when `expr` fails; `expr`
// (a chain, or a call that returns one) is evaluated exactly once.
#define KV_RETURN_IF_FAILED(expr)                                        \
  do {                                                                   \
    if (::kv::ResultChain kv_failure_ = (expr); kv_failure_.Failed()) {  \
      return KV_MARK(kv_failure_);                                       \
    }                                                                    \
  } while (0)

// The same, with `step` (where the operation stopped) added after the cause.
#define KV_RETURN_IF_FAILED_AT(expr, step)                               \
  do {                                                                   \
    if (::kv::ResultChain kv_failure_ = (expr); kv_failure_.Failed()) {  \
      return KV_MARK(kv_failure_ + (step));                              \
    }                                                                    \
  } while (0)
