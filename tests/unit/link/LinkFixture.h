#pragma once

#include <gtest/gtest.h>

#include <string>

#include "FakeSerialServices.h"
#include "Zantor50.h"

using Op = FakeSerialServices::Op;

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// What the CommErr that action throws says; a note when it throws none.
template <class Action>
std::string CommErrText(Action action) {
    try {
        action();
    } catch (const CommErr& error) {
        return error.what();
    }
    return "(no CommErr)";
}

// One link over scripted serial services, as the main window owns it.
class LinkTest : public testing::Test {
protected:
    FakeSerialServices fake;
    Zantor50 link{fake};

    // Opens port n through the link, then forgets the calls that made it.
    void OpenQuietly(int n) {
        if (!fake.IsOpen(n)) fake.AddPort(n);
        ASSERT_TRUE(link.SelectPort(n));
        fake.ClearCalls();
    }

    // Bytes written to port n, cut into the frames the link sent.
    std::vector<Bytes> FramesWrittenTo(int n) const {
        std::vector<Bytes> frames;
        for (const auto& call : fake.CallsOf(Op::Write)) {
            if (call.port == n) frames.push_back(call.data);
        }
        return frames;
    }
};
