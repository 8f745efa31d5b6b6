// The Linux backend's choice of device node and its failure messages.
#include "platform/linux/ppdev_ports.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using velnor::platform::ppdev::failure_line;
using velnor::platform::ppdev::node_for;
using velnor::platform::ppdev::NodeMap;
using velnor::platform::ppdev::parse_node_map;

TEST(PpdevNodes, UsualBasesHaveTheirNodes) {
  const NodeMap none;
  EXPECT_EQ(node_for(none, 0x378), "/dev/parport0");
  EXPECT_EQ(node_for(none, 0x278), "/dev/parport1");
  EXPECT_EQ(node_for(none, 0x3BC), "/dev/parport2");
  EXPECT_EQ(node_for(none, 0x379), "");
  EXPECT_EQ(node_for(none, 0x3E8), "");
}

TEST(PpdevNodes, TheMapOverridesAndAdds) {
  NodeMap map;
  std::string error;
  ASSERT_TRUE(parse_node_map(" 0x378=/dev/parport3 , 3e8=/tmp/port,", &map, &error)) << error;
  EXPECT_EQ(node_for(map, 0x378), "/dev/parport3");
  EXPECT_EQ(node_for(map, 0x3E8), "/tmp/port");
  EXPECT_EQ(node_for(map, 0x278), "/dev/parport1");
  ASSERT_TRUE(parse_node_map("", &map, &error));
  EXPECT_TRUE(map.empty());
}

TEST(PpdevNodes, BadMapItemsAreNamed) {
  for (const char* text : {"0x378", "0x378=", "=/dev/parport0", "zz=/dev/parport0",
                           "0x378=/dev/parport0,0xFFFE=/dev/parport1", "0x10000=/dev/parport0"}) {
    NodeMap map;
    std::string error;
    EXPECT_FALSE(parse_node_map(text, &map, &error)) << text;
    EXPECT_EQ(error.rfind("bad item '", 0), 0u) << error;
  }
  NodeMap map;
  std::string error;
  EXPECT_FALSE(parse_node_map("0x378=/a,0x278:/b", &map, &error));
  EXPECT_EQ(error, "bad item '0x278:/b' (want BASE=NODE, e.g. 0x378=/dev/parport0)");
}

TEST(PpdevNodes, FailuresSayWhatUsuallyHelps) {
  EXPECT_EQ(failure_line("/dev/parport0", "open", EACCES),
            "velnor: cannot open /dev/parport0: Permission denied (join the 'lp' group)");
  EXPECT_EQ(failure_line("/dev/parport0", "open", ENOENT),
            "velnor: cannot open /dev/parport0: No such file or directory (no such node: load the "
            "ppdev module, or name the node in VELNOR_PARPORT_MAP)");
  EXPECT_EQ(failure_line("/dev/parport0", "claim", EBUSY),
            "velnor: cannot claim /dev/parport0: Device or resource busy (another program or a "
            "driver such as lp uses the port)");
  // ENXIO: no driver when opening, a port already taken when claiming.
  EXPECT_NE(failure_line("/dev/parport0", "open", ENXIO).find("load the ppdev module"),
            std::string::npos);
  EXPECT_NE(failure_line("/dev/parport0", "claim", ENXIO).find("such as lp uses the port"),
            std::string::npos);
  EXPECT_EQ(failure_line("/dev/parport0", "set compatibility mode on", EIO),
            "velnor: cannot set compatibility mode on /dev/parport0: Input/output error");
}

}  // namespace
