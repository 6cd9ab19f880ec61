#include "framework/module_state.h"

#include <thread>

#include <gtest/gtest.h>

namespace {

// Two modules that are surely loaded stand in for libraries with a state.
HINSTANCE Kernel32() {
  return GetModuleHandleA("kernel32.dll");
}
HINSTANCE Ntdll() {
  return GetModuleHandleA("ntdll.dll");
}

TEST(ModuleStateTest, WithoutASwitchTheProcessStateResolvesToTheExecutable) {
  HINSTANCE executable = GetModuleHandleA(nullptr);
  EXPECT_EQ(AfxGetModuleState()->m_hInstance, executable);
  EXPECT_EQ(AfxGetResourceHandle(), executable);
}

TEST(ModuleStateTest, NestedSwitchesRestoreEachPreviousState) {
  CModuleState* processState = AfxGetModuleState();
  CModuleState outer(Kernel32());
  CModuleState inner(Ntdll());
  ASSERT_NE(outer.m_hInstance, inner.m_hInstance);
  {
    CManageModuleState manageOuter(&outer);
    EXPECT_EQ(AfxGetModuleState(), &outer);
    EXPECT_EQ(AfxGetResourceHandle(), Kernel32());
    {
      CManageModuleState manageInner(&inner);
      EXPECT_EQ(AfxGetModuleState(), &inner);
      EXPECT_EQ(AfxGetResourceHandle(), Ntdll());
      {
        // Switching to the state already in force changes nothing.
        CManageModuleState again(&inner);
        EXPECT_EQ(AfxGetModuleState(), &inner);
      }
      EXPECT_EQ(AfxGetModuleState(), &inner);
    }
    EXPECT_EQ(AfxGetModuleState(), &outer);
  }
  EXPECT_EQ(AfxGetModuleState(), processState);
}

TEST(ModuleStateTest, ASwitchHoldsOnlyOnTheThreadThatMadeIt) {
  CModuleState* processState = AfxGetModuleState();
  CModuleState mine(Kernel32());
  CModuleState theirs(Ntdll());
  CManageModuleState manageMine(&mine);

  CModuleState* seenBeforeSwitch = nullptr;
  CModuleState* seenDuringSwitch = nullptr;
  CModuleState* seenAfterSwitch = nullptr;
  std::thread other([&] {
    seenBeforeSwitch = AfxGetModuleState();
    {
      CManageModuleState manageTheirs(&theirs);
      seenDuringSwitch = AfxGetModuleState();
    }
    seenAfterSwitch = AfxGetModuleState();
  });
  other.join();

  EXPECT_EQ(seenBeforeSwitch, processState);
  EXPECT_EQ(seenDuringSwitch, &theirs);
  EXPECT_EQ(seenAfterSwitch, processState);
  EXPECT_EQ(AfxGetModuleState(), &mine);
}

}  // namespace
