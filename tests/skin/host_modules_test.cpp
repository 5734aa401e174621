#include <gtest/gtest.h>

#include "skin/call_address.h"
#include "skin/host_modules.h"

namespace kestrova::skin {
namespace {

std::uint32_t Seven() { return 7; }
std::uint32_t Doubles(std::uintptr_t value) { return static_cast<std::uint32_t>(2 * value); }

TEST(HostModules, LooksUpModulesWithoutCaseAndFunctionsExactly) {
  ASSERT_TRUE(RegisterHostModule("Registry_Test.dll",
                                 {{"Seven", 0, CodeAddress(&Seven)}, {"Doubles", 3, CodeAddress(&Doubles)}}));
  EXPECT_FALSE(RegisterHostModule("REGISTRY_TEST.DLL", {})) << "the first registration stands";

  const HostModuleHandle module = LoadHostModule("registry_test.DLL");
  ASSERT_NE(module, 0U);
  EXPECT_EQ(LoadHostModule("registry_test"), 0U);
  EXPECT_EQ(LoadHostModule("no_such.dll"), 0U);

  const std::uint32_t seven = HostProcAddress(module, "Seven");
  ASSERT_NE(seven, 0U);
  EXPECT_EQ(HostProcAddress(module, "Seven"), seven) << "one stub per function";
  EXPECT_EQ(HostProcAddress(module, "seven"), 0U);
  EXPECT_EQ(HostProcAddress(module, "Missing"), 0U);
  EXPECT_EQ(HostProcAddress(0, "Seven"), 0U);

  // The stubs lie below 4 GiB and lead to the real functions.
  EXPECT_EQ(CallAddress(seven), 7U);
  const std::uint32_t doubles = HostProcAddressByOrdinal(module, 3);
  ASSERT_NE(doubles, 0U);
  EXPECT_EQ(doubles, HostProcAddress(module, "Doubles"));
  EXPECT_EQ(CallAddress(doubles, 21U), 42U);
  EXPECT_EQ(HostProcAddressByOrdinal(module, 4), 0U);
  EXPECT_EQ(HostProcAddressByOrdinal(module, 0), 0U) << "0 means by name only";

  EXPECT_TRUE(UnregisterHostModule("registry_test.dll"));
  EXPECT_EQ(LoadHostModule("registry_test.dll"), 0U);
  EXPECT_EQ(HostProcAddress(module, "Seven"), 0U) << "an old handle finds nothing";
  EXPECT_FALSE(UnregisterHostModule("registry_test.dll"));
}

}  // namespace
}  // namespace kestrova::skin
