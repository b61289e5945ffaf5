#include "sim/Faults.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace talvo::sim {

bool FaultSpec::any() const {
    return drop > 0 || corrupt > 0 || delay > 0 || silentAfter >= 0 || nackBlock > 0 || truncateStatus >= 0 ||
           hangupBlock > 0 || badWord > 0;
}

std::string FaultSpec::describe() const {
    std::ostringstream s;
    const char* sep = "";
    auto put = [&](const char* key, auto value) {
        s << sep << key << '=' << value;
        sep = ",";
    };
    if (drop > 0) put("drop", drop);
    if (corrupt > 0) put("corrupt", corrupt);
    if (delay > 0) put("delay", delay);
    if (delay > 0 && delayFrom > 0) put("delay-from", delayFrom);
    if (silentAfter >= 0) put("silent-after", silentAfter);
    if (nackBlock > 0) put("nack-block", nackBlock);
    if (nackBlock > 0 && nackCount != 1) put("nack-count", nackCount);
    if (badAck > 0) put("bad-ack", badAck);
    if (truncateStatus >= 0) put("truncate-status", truncateStatus);
    if (hangupBlock > 0) put("hangup-block", hangupBlock);
    if (badWord > 0) put("bad-word", badWord);
    put("seed", seed);
    return s.str();
}

bool parseNumber(const std::string& v, double lo, double hi, double* out) {
    if (v.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double d = std::strtod(v.c_str(), &end);
    if (errno != 0 || end != v.c_str() + v.size() || !(d >= lo && d <= hi)) return false;
    *out = d;
    return true;
}

namespace {

bool toInt(const std::string& v, long long lo, long long hi, long long* out) {
    if (v.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(v.c_str(), &end, 10);
    if (errno != 0 || end != v.c_str() + v.size() || n < lo || n > hi) return false;
    *out = n;
    return true;
}

} // namespace

bool FaultSpec::parseItem(const std::string& item, std::string* error) {
    const auto eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    auto fail = [&](const char* expect) {
        if (error) *error = "fault '" + item + "': " + expect;
        return false;
    };
    double d = 0;
    long long n = 0;
    if (key == "drop") {
        if (!parseNumber(value, 0.0, 1.0, &d)) return fail("expects a probability from 0 to 1");
        drop = d;
    } else if (key == "corrupt") {
        if (!parseNumber(value, 0.0, 1.0, &d)) return fail("expects a probability from 0 to 1");
        corrupt = d;
    } else if (key == "delay") {
        if (!parseNumber(value, 0.0, 60.0, &d)) return fail("expects seconds from 0 to 60");
        delay = d;
    } else if (key == "delay-from") {
        if (!toInt(value, 0, 1000000, &n)) return fail("expects a frame number (0 or more)");
        delayFrom = static_cast<int>(n);
    } else if (key == "silent-after") {
        if (!toInt(value, 0, 1000000, &n)) return fail("expects a frame count (0 or more)");
        silentAfter = static_cast<int>(n);
    } else if (key == "nack-block") {
        if (!toInt(value, 1, 1000000, &n)) return fail("expects a block number (1 or more)");
        nackBlock = static_cast<int>(n);
    } else if (key == "nack-count") {
        if (!toInt(value, 1, 1000000, &n)) return fail("expects a count (1 or more)");
        nackCount = static_cast<int>(n);
    } else if (key == "bad-ack") {
        if (!toInt(value, 1, 1000000, &n)) return fail("expects a block number (1 or more)");
        badAck = static_cast<int>(n);
    } else if (key == "truncate-status") {
        if (!toInt(value, 0, 1000, &n)) return fail("expects a byte count (0 or more)");
        truncateStatus = static_cast<int>(n);
    } else if (key == "hangup-block") {
        if (!toInt(value, 1, 1000000, &n)) return fail("expects a block number (1 or more)");
        hangupBlock = static_cast<int>(n);
    } else if (key == "bad-word") {
        if (!toInt(value, 1, 100000000, &n)) return fail("expects a word number (1 or more)");
        badWord = static_cast<int>(n);
    } else if (key == "seed") {
        if (!toInt(value, 0, (1ll << 62), &n)) return fail("expects a non-negative integer");
        seed = static_cast<uint64_t>(n);
    } else {
        if (error)
            *error = "unknown fault '" + key +
                     "' (known: drop, corrupt, delay, delay-from, silent-after, nack-block, nack-count, bad-ack, "
                     "truncate-status, hangup-block, bad-word, seed)";
        return false;
    }
    return true;
}

bool FaultSpec::parse(const std::string& text, FaultSpec* out, std::string* error) {
    FaultSpec parsed;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(",;", start);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(start, end - start);
        if (!item.empty() && !parsed.parseItem(item, error)) return false;
        start = end + 1;
    }
    *out = parsed;
    return true;
}

} // namespace talvo::sim
