// A started engine with the host's table registered in front, as start-up
// registers it, driven by ZVR text; a fresh temporary directory per session
// for the files it writes, and the file and port tables cleared around it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/core/strings.h"
#include "host/devices/file_library.h"
#include "host/stdio_console.h"
#include "support/zvr_session.h"

struct DeviceSession : ZvrSession {
  std::filesystem::path dir;

  DeviceSession() {
    fileio_table_init();
    EXPECT_EQ(stdio_console_register(c), kOk);
    engine_set_charset(c, 'u');  // text is UTF-8, as the program has it
    char pattern[] = "/tmp/tn_devices_XXXXXX";
    const char* made = ::mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    dir = made ? made : "/tmp";
  }
  ~DeviceSession() {
    fileio_close_all();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  // A path in the session's directory, as a ZVR string literal.
  std::string path(const std::string& name) const { return "'" + (dir / name).string() + "'"; }
  std::string file_text(const std::string& name) const {
    std::ifstream in(dir / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void write_file(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir / name, std::ios::binary) << bytes;
  }
};
