// What the desktop layer reads out of a monitor's EDID, and the signal level a
// network-daemon strength percentage stands for.

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <vector>

#include "platform/gtk/gtk_system_info.h"

namespace {

using platform::gtk::dbm_from_strength;
using platform::gtk::edid_monitor_name;
using platform::gtk::edid_uid;

// A base block with a detailed timing first, then the given display descriptors.
std::vector<unsigned char> edid(std::vector<std::pair<unsigned char, std::string>> descriptors, unsigned char serial = 1) {
  std::vector<unsigned char> e(128, 0);
  const unsigned char header[8] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  std::memcpy(e.data(), header, 8);
  e[8] = 0x10;  // maker
  e[12] = serial;
  e[54] = 0x02;  // a detailed timing: not a display descriptor
  e[55] = 0x3a;
  size_t off = 72;
  for (const auto& [tag, text] : descriptors) {
    e[off + 3] = tag;
    std::memcpy(&e[off + 5], text.data(), std::min<size_t>(13, text.size()));
    off += 18;
  }
  return e;
}

TEST(Edid, TheMonitorNameIsTheProductNameDescriptor) {
  struct Case {
    std::vector<std::pair<unsigned char, std::string>> descriptors;
    const char* name;
  } cases[] = {
      {{{0xFF, "SN12345\n     "}, {0xFC, "DELL U2720Q\n "}}, "DELL U2720Q"},
      {{{0xFC, "THIRTEENCHARS"}}, "THIRTEENCHARS"},
      {{{0xFC, "LG TV  \n"}}, "LG TV"},
      {{{0xFE, "not a name\n  "}, {0xFD, ""}}, ""},
      {{}, ""},
  };
  for (const Case& c : cases) {
    const std::vector<unsigned char> e = edid(c.descriptors);
    EXPECT_EQ(edid_monitor_name(e.data(), e.size()), c.name);
  }
}

TEST(Edid, TheIdentifierIsStableAndFollowsTheSerialNumber) {
  const std::vector<unsigned char> a = edid({{0xFC, "Panel\n"}}, 1), b = edid({{0xFC, "Panel\n"}}, 2);
  const std::string uid = edid_uid(a.data(), a.size());
  EXPECT_TRUE(std::regex_match(uid, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"))) << uid;
  EXPECT_EQ(uid, edid_uid(a.data(), a.size()));
  EXPECT_NE(uid, edid_uid(b.data(), b.size()));
  std::vector<unsigned char> longer = a;
  longer.resize(256, 0x55);  // an extension block does not change it
  EXPECT_EQ(uid, edid_uid(longer.data(), longer.size()));
}

TEST(Edid, WhatIsNoEdidHasNoNameOrIdentifier) {
  std::vector<unsigned char> e = edid({{0xFC, "Name\n"}});
  e[1] = 0;
  EXPECT_EQ(edid_uid(e.data(), e.size()), "");
  EXPECT_EQ(edid_monitor_name(e.data(), e.size()), "");
  const std::vector<unsigned char> ok = edid({{0xFC, "Name\n"}});
  EXPECT_EQ(edid_uid(ok.data(), 127), "");
  EXPECT_EQ(edid_monitor_name(nullptr, 0), "");
}

TEST(WifiStrength, PercentBackToDbm) {
  const std::pair<int, long> cases[] = {{100, -20}, {82, -38}, {30, -90}, {29, -83}, {0, -100}, {101, -20}, {-5, -100}};
  for (const auto& [percent, dbm] : cases) EXPECT_EQ(dbm_from_strength(percent), dbm) << percent;
}

}  // namespace
