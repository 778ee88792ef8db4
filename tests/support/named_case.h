#pragma once

// Table-driven tests: each case is a struct whose `name` both names the test
// instance (pass `CaseName{}` to INSTANTIATE_TEST_SUITE_P, so that ctest sees
// the same names on every run) and is what a failure prints for the
// parameter. gtest finds `PrintTo` only by argument-dependent lookup, so a
// file brings it into the namespace that holds its cases with
// `using vantorel::test::PrintTo;`.

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <string_view>

namespace vantorel::test {

template <class Case>
concept NamedCase = requires(const Case& c) {
    std::string_view(c.name);
};

struct CaseName {
    template <NamedCase Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return std::string(info.param.name);
    }
};

template <NamedCase Case> void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

} // namespace vantorel::test
