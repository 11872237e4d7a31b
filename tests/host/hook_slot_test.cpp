// HookSlot: armed lazily, disarmed by an initialiser that answers 0, its old
// finaliser run only once the slot was used.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/host/runtime_application.h"

namespace {

std::vector<std::string> g_log;

intptr_t InitNo(intptr_t a) {
  g_log.push_back("initNo " + std::to_string(a));
  return 0;
}
intptr_t InitYes(intptr_t a) {
  g_log.push_back("initYes " + std::to_string(a));
  return 1;
}
intptr_t Handler(intptr_t a) {
  g_log.push_back("handler " + std::to_string(a));
  return a * 2;
}
void Finaliser() { g_log.push_back("finaliser"); }

TEST(HookSlotTest, ProgramStubsDisarmTheSlotAtFirstUse) {
  g_log.clear();
  rt::HookSlot slot;
  slot.Fill(InitNo, InitNo, Finaliser);
  EXPECT_EQ(slot.Invoke(5), 0);
  EXPECT_EQ(g_log, (std::vector<std::string>{"initNo 5"}));  // the handler never runs
  EXPECT_EQ(slot.initialiser, nullptr);
  EXPECT_EQ(slot.handler, nullptr);
  EXPECT_EQ(slot.finaliser, nullptr);
  EXPECT_EQ(slot.Invoke(6), 0);
  EXPECT_EQ(g_log.size(), 1u);
}

TEST(HookSlotTest, ArmedSlotRunsItsInitialiserOnceThenTheHandler) {
  g_log.clear();
  rt::HookSlot slot;
  slot.Fill(InitYes, Handler, Finaliser);
  EXPECT_EQ(slot.Invoke(3), 6);
  EXPECT_EQ(slot.Invoke(4), 8);
  EXPECT_EQ(g_log, (std::vector<std::string>{"initYes 3", "handler 3", "handler 4"}));

  // Used and armed: refilling finishes it first.
  g_log.clear();
  slot.Fill(InitYes, Handler, nullptr);
  EXPECT_EQ(g_log, (std::vector<std::string>{"finaliser"}));
}

TEST(HookSlotTest, FillingWithoutInitialiserOrHandlerEmptiesTheSlot) {
  g_log.clear();
  rt::HookSlot slot;
  slot.Fill(InitYes, Handler, Finaliser);
  // Not yet used: the initialiser is still set, so no finaliser runs.
  slot.Fill(nullptr, Handler, Finaliser);
  EXPECT_TRUE(g_log.empty());
  EXPECT_EQ(slot.initialiser, nullptr);
  EXPECT_EQ(slot.handler, nullptr);
  EXPECT_EQ(slot.finaliser, nullptr);

  slot.Fill(InitYes, nullptr, Finaliser);
  EXPECT_EQ(slot.finaliser, nullptr);
  EXPECT_EQ(slot.Invoke(1), 0);
  EXPECT_TRUE(g_log.empty());
}

}  // namespace
