#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "RXMFiles.h"
#include "TestSupport.h"

namespace {

// Joining, lengths and the null text: the library's own uses of String check them.
TEST(StringTest, KeepsItsOwnCopyAndAssignmentReturnsIt) {
  char source[] = "abc";
  String text(source);
  source[0] = 'x';
  String other("x");
  const String returned = (other = text);
  EXPECT_STREQ(returned.GetText(), "abc");
  String& alias = other;
  other = alias;
  EXPECT_STREQ(other.GetText(), "abc");
}

// The empty text is held without characters: every way of making, copying,
// assigning, joining and moving one still reads "" (never null), and a text
// made from it afterwards is its own.
TEST(StringTest, TheEmptyTextReadsEmptyHoweverItWasMade) {
  const String none;
  const String empty("");
  String copied(empty);
  const String copy(copied);
  String assigned("x");
  assigned = none;
  const String moved(std::move(copied));
  const String joined = none + empty;
  for (const String* text : {&none, &empty, &copy, &moved, &joined}) {
    ASSERT_NE(text->GetText(), nullptr);
    EXPECT_STREQ(text->GetText(), "");
    EXPECT_EQ(text->GetLength(), 0);
  }
  EXPECT_STREQ(assigned.GetText(), "");
  assigned = String("abc") + none;
  EXPECT_STREQ(assigned.GetText(), "abc");
  EXPECT_STREQ((none + String("d")).GetText(), "d");
}

TEST(ExceptionTest, FormatsLikePrintfAndIsCaughtAsRTTI) {
  std::string formatted = "<nothing caught>";
  try {
    throw new Exception("ERROR: %s has %d entries%c", "a.kymf", 42, '!');
  } catch (RTTI* caught) {
    const Exception* exception = dynamic_cast<Exception*>(caught);
    formatted = exception != nullptr ? exception->GetText() : "<not an Exception>";
    delete caught;
  }
  EXPECT_EQ(formatted, "ERROR: a.kymf has 42 entries!");

  const std::string longName(10000, 'n');
  Exception large("%s.", longName.c_str());
  EXPECT_EQ(std::string(large.GetText()), longName + ".");
}

// The tests that read the library's messages check that SetDebugger redirects them.
TEST(DebuggerTest, SettingNullRestoresTheDefault) {
  ASSERT_FALSE(RXM::GetDebugger().IsNull());
  {
    testing_support::DebuggerCapture capture;  // sets its own, then null
  }
  CTPointer<Debugger> restored = RXM::GetDebugger();
  EXPECT_FALSE(restored.IsNull());
  EXPECT_EQ(dynamic_cast<testing_support::RecordingDebugger*>(restored.Get()), nullptr);
}

TEST(RTTIClassTest, RecordsRegisterInOrderAndLeaveWhenDestroyed) {
  const int before = RTTIClass::GetCount();
  const auto createNothing = [](const char*) -> void* { return nullptr; };
  const auto implementsEverything = [](const char*) { return true; };
  {
    RTTIClass first(String("TestFirst"), createNothing, implementsEverything);
    RTTIClass second(String("TestSecond"), createNothing, implementsEverything);
    ASSERT_EQ(RTTIClass::GetCount(), before + 2);
    EXPECT_EQ(RTTIClass::GetAt(before), &first);
    EXPECT_EQ(RTTIClass::GetAt(before + 1), &second);
    EXPECT_EQ(RTTIClass::Find("TestSecond"), &second);
    EXPECT_EQ(RTTIClass::Find("testsecond"), nullptr);
    EXPECT_TRUE(second.ImplementsInterface("anything"));
    EXPECT_EQ(second.Create(nullptr), nullptr);
  }
  EXPECT_EQ(RTTIClass::GetCount(), before);
  EXPECT_EQ(RTTIClass::Find("TestFirst"), nullptr);
  EXPECT_EQ(RTTIClass::GetAt(before), nullptr);
  EXPECT_EQ(RTTIClass::GetAt(-1), nullptr);
}

}  // namespace
