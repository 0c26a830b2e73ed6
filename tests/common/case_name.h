// gtest's name for each case of a value-parameterized test: the case's own `name` field.
#pragma once

#include <gtest/gtest.h>

#include <string>

struct CaseName {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case> &info) const {
    return info.param.name;
  }
};
