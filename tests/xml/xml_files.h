// A scratch folder for the XML tests: created empty under the temp folder and made the current
// directory, so documents are loaded by relative names (the same on native and under wine).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "cxml.h"

class XmlFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    static std::atomic<int> serial{0};
    oldCwd_ = fs::current_path();
    dir_ = fs::temp_directory_path() /
           ("tal_xml_test_" + std::to_string(reinterpret_cast<uintptr_t>(this)) + "_" +
            std::to_string(serial++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(oldCwd_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Writes the bytes to a file in the scratch folder and returns its (relative) name.
  static std::string Write(const std::string &name, const std::string &bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return name;
  }

  // Loads bytes into the document; the Load result.
  static bool LoadText(C_XML &doc, const std::string &bytes, bool trim = true) {
    doc.SetTrimWhitespace(trim);
    return doc.Load(Write("doc.xml", bytes));
  }

 private:
  std::filesystem::path oldCwd_;
  std::filesystem::path dir_;
};
