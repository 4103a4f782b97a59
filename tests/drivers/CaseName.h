// Names parameterised cases after their table row, so a failure says which.
#pragma once

#include <gtest/gtest.h>

#include <string>

template <typename T>
std::string CaseName(const ::testing::TestParamInfo<T>& info) {
    return info.param.name;
}
