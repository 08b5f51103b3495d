#pragma once
// A simulated SoC with the KMDF stand-in running on it, for one test.
#include <evntrace.h>
#include <gtest/gtest.h>
#include <kmdf/Machine.h>
#include <kmdf/PowerPolicyOwner.h>
#include <soc/Soc.h>

#include <string>
#include <vector>

class MachineTest : public ::testing::Test {
  protected:
    soc::Soc soc;
    kmdf::Machine machine{soc};

    std::vector<soc::TraceRecord> Accesses() const {
        std::vector<soc::TraceRecord> out;
        for (auto& r : soc.Records()) {
            if (r.op == soc::Op::Read || r.op == soc::Op::Write) {
                out.push_back(r);
            }
        }
        return out;
    }

    std::vector<soc::TraceRecord> Delays() const {
        std::vector<soc::TraceRecord> out;
        for (auto& r : soc.Records()) {
            if (r.op == soc::Op::Delay) {
                out.push_back(r);
            }
        }
        return out;
    }

    bool ReportedError(const std::string& fragment) const {
        for (auto& d : machine.Diagnostics()) {
            if (d.level == TRACE_LEVEL_ERROR && d.message.find(fragment) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};
