// The frame cutter fed any bytes in any chunking: the messages it hands out
// are exactly the input cut at each 0x1F, in order, and what is pending is
// the tail after the last terminator.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "net/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t chunk = data[0] % 64 + 1;
    const bool lazy = (data[0] & 0x40) != 0;  // messages taken only now and then
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::vector<std::string> expected;
    std::size_t start = 0;
    for (std::size_t end; (end = input.find('\x1F', start)) != std::string_view::npos; start = end + 1) {
        expected.emplace_back(input.substr(start, end - start));
    }

    nelv::net::FrameCutter cutter;
    std::vector<std::string> got;
    for (std::size_t at = 0, round = 0; at < input.size(); at += chunk, ++round) {
        cutter.Feed(input.substr(at, chunk));
        const std::string_view fed = input.substr(0, at + chunk);
        const std::size_t last = fed.rfind('\x1F');
        const std::size_t partial = last == std::string_view::npos ? fed.size() : fed.size() - last - 1;
        FUZZ_CHECK(cutter.Overflowed() == (partial > nelv::net::FrameCutter::kMaxPartial));
        if (lazy && round % 3 != 0) continue;
        while (auto message = cutter.Next()) got.push_back(std::move(*message));
    }
    while (auto message = cutter.Next()) got.push_back(std::move(*message));
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(cutter.Pending() == input.size() - start);
    FUZZ_CHECK(!cutter.Overflowed() || input.size() - start > nelv::net::FrameCutter::kMaxPartial);
    return 0;
}
