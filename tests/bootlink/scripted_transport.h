// A transport that records what the protocol sends and answers from a script:
// the protocol's own behaviour, checked without any port.
#pragma once

#include <bootwire/bootwire.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

namespace bootwire::testing {

class ScriptedTransport : public Transport {
public:
    std::vector<std::vector<uint8_t>> sends;
    std::deque<uint8_t> answers;
    size_t failSendAt = SIZE_MAX;  // index of the send that fails
    size_t failedSendTook = 0;     // bytes the failing send still reports as sent

    void AnswerWord(uint32_t word) {
        for (int i = 0; i < 4; ++i) {
            answers.push_back(static_cast<uint8_t>(word >> (8 * i)));
        }
    }
    void AnswerBytes(const std::vector<uint8_t>& bytes) { answers.insert(answers.end(), bytes.begin(), bytes.end()); }

    Error Send(const uint8_t* data, size_t n, const SendObserver* sent) override {
        if (sends.size() == failSendAt) {
            sends.emplace_back();
            if (sent && failedSendTook > 0) {
                (*sent)(std::min(failedSendTook, n));
            }
            return Fail(Error::Timeout, "scripted failure");
        }
        sends.emplace_back(data, data + n);
        if (sent) {
            (*sent)(n);
        }
        return Error::Ok;
    }
    Error Receive(uint8_t* data, size_t n, size_t* received) override {
        size_t k = std::min(n, answers.size());
        for (size_t i = 0; i < k; ++i) {
            data[i] = answers.front();
            answers.pop_front();
        }
        *received = k;
        return k == n ? Error::Ok : Fail(Error::Timeout, "scripted silence");
    }
    std::string Describe() const override { return "script"; }
};

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) {
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

}  // namespace bootwire::testing
