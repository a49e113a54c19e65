#include "foundation/ZnMessage.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "foundation/ZnWordWrap.h"

namespace {

// Captures what the flush writes to std::cerr.
class MessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZnClearMessages();
    saved_ = std::cerr.rdbuf(captured_.rdbuf());
  }
  void TearDown() override {
    std::cerr.rdbuf(saved_);
    ZnClearMessages();
    ZnSetCancelHook(nullptr, nullptr);
  }
  std::string Flushed(bool* result = nullptr) {
    captured_.str("");
    bool r = ZnFlushMessages();
    if (result != nullptr) *result = r;
    return captured_.str();
  }

  std::ostringstream captured_;
  std::streambuf* saved_ = nullptr;
};

std::string Wrap(const char* text, int width = 70, int tab = 8) {
  return ZnWordWrap(ZnStr(text), width, tab).c_str();
}

TEST_F(MessageTest, EmptyListPrintsNothing) {
  EXPECT_FALSE(ZnMessages.errorPending());
  EXPECT_FALSE(ZnMessages.hasMessages());
  bool result = true;
  EXPECT_EQ("", Flushed(&result));
  EXPECT_FALSE(result);
}

TEST_F(MessageTest, NewestMessageChoosesPrefixAndOlderOnesAreIndented) {
  ZnReportError("X");
  ZnReportError("Y");
  ZnReportError("Z");
  EXPECT_TRUE(ZnMessages.errorPending());
  bool result = false;
  EXPECT_EQ("\n\nERROR: Z\n       Y\n       X\n\n", Flushed(&result));
  EXPECT_TRUE(result);
  EXPECT_FALSE(ZnMessages.hasMessages());

  ZnReportError("Older error.");
  ZnReportWarning("Newer warning.");
  EXPECT_FALSE(ZnMessages.errorPending());
  EXPECT_TRUE(ZnMessages.hasMessages());
  EXPECT_EQ("\n\nWARNING: Newer warning.\n         Older error.\n\n", Flushed(&result));
  EXPECT_FALSE(result);

  ZnReportWarning("Only.");
  EXPECT_EQ("\n\nWARNING: Only.\n\n", Flushed(&result));
  EXPECT_FALSE(result);
}

TEST_F(MessageTest, EmptyTextAndTrailingNewline) {
  ZnReportError("%s", "");
  EXPECT_EQ("\n\nERROR: \n\n", Flushed());
  ZnReportError("Line one.\n");
  EXPECT_EQ("\n\nERROR: Line one.\n       \n\n", Flushed());
  ZnReportError(ZnStr());
  EXPECT_EQ("\n\nERROR: \n\n", Flushed());
}

TEST_F(MessageTest, LongTextsWrapAtSeventyColumnsUnderThePrefix) {
  std::string word71(71, 'a');
  ZnReportError("%s", word71.c_str());
  EXPECT_EQ("\n\nERROR: " + word71 + "\n\n", Flushed());

  // Fourteen five-letter words: 14 * 6 - 1 = 83 columns; the line breaks
  // before the word that would pass column 70.
  std::string text;
  for (int i = 0; i < 14; ++i) text += (i ? " " : "") + std::string("abcde");
  ZnReportWarning("%s", text.c_str());
  std::string first = text.substr(0, 11 * 6 - 1);
  std::string rest = text.substr(11 * 6);
  EXPECT_EQ("\n\nWARNING: " + first + "\n         " + rest + "\n\n", Flushed());

  ZnReportError(
      "Cannot find command 'gzip' to compress\n'x.gz'.\nThis command needs to be in your path.");
  ZnReportError("Unable to open \"x.gz\".");
  EXPECT_EQ(
      "\n\nERROR: Unable to open \"x.gz\".\n"
      "       Cannot find command 'gzip' to compress\n"
      "       'x.gz'.\n"
      "       This command needs to be in your path.\n\n",
      Flushed());
}

TEST_F(MessageTest, AVeryLongTextKeepsEveryWordOnIndentedLines) {
  std::string text;
  for (int i = 0; i < 30000; ++i) text += (i ? " w" : "w") + std::to_string(i);
  ZnReportError(ZnStr(text.c_str()));
  const std::string block = Flushed();
  ASSERT_EQ("\n\nERROR: ", block.substr(0, 9));
  ASSERT_EQ("\n\n", block.substr(block.size() - 2));

  std::istringstream lines(block.substr(2, block.size() - 4));
  std::string line, joined;
  int count = 0;
  while (std::getline(lines, line)) {
    const std::string lead = count++ == 0 ? "ERROR: " : "       ";
    ASSERT_EQ(lead, line.substr(0, 7)) << "line " << count;
    ASSERT_LE(line.size() - 7, 70u) << "line " << count;
    joined += (joined.empty() ? "" : " ") + line.substr(7);
  }
  EXPECT_EQ(text, joined);
  EXPECT_GE(count, static_cast<int>(text.size() / 71));
}

TEST_F(MessageTest, FormattedTextsAreCutAt1023Characters) {
  std::string big(2000, 'b');
  ZnReportError("%s", big.c_str());
  EXPECT_EQ(1023, ZnMessages.first()->text().length());
  ZnClearMessages();
  ZnReportError(ZnStr(big.c_str()));
  EXPECT_EQ(2000, ZnMessages.first()->text().length());
}

TEST(ZnWordWrap, BreaksTabsAndNewlines) {
  EXPECT_EQ("", Wrap(""));
  EXPECT_EQ("abc def", Wrap("abc def"));
  EXPECT_EQ("abc\ndef", Wrap("abc def", 5));
  // Only the blank at the break and the blanks after it go.
  EXPECT_EQ("abc  \ndef", Wrap("abc    def", 5));
  EXPECT_EQ("abcdefgh\nij", Wrap("abcdefgh ij", 5));  // a long word stays whole
  EXPECT_EQ("a\n\nb", Wrap("a\n\nb"));                // an empty line stays
  EXPECT_EQ("\nabc", Wrap("\nabc"));
  EXPECT_EQ("a\n", Wrap("a\n"));
  // A tab at column 5 reaches column 8, at column 8 it reaches 16.
  EXPECT_EQ("abcde\tx", Wrap("abcde\tx", 9));
  EXPECT_EQ("abcde\nx", Wrap("abcde\tx", 8));
  EXPECT_EQ("abcdefgh\tx", Wrap("abcdefgh\tx", 17));
  EXPECT_EQ("abcdefgh\nx", Wrap("abcdefgh\tx", 16));
}

TEST_F(MessageTest, PrependAndAppendChangeOnlyTheNewestText) {
  ZnMessages.prependLine("nothing to extend");
  EXPECT_FALSE(ZnMessages.hasMessages());
  ZnReportError("old");
  ZnReportWarning("middle");
  ZnMessages.prependLine("first %d", 1);
  ZnMessages.appendLine("last %s", "line");
  EXPECT_EQ(ZnMessage::Warning, ZnMessages.first()->kind());
  EXPECT_EQ(ZnStr("first 1\nmiddle\nlast line"), ZnMessages.first()->text());
  EXPECT_EQ(ZnStr("old"), ZnMessages.first()->next()->text());
}

TEST_F(MessageTest, ToStringHoldsExactlyWhatPrintWrites) {
  ZnReportError("A");
  ZnReportError("B has a rather long text that will certainly need to be wrapped over two lines.");
  std::ostringstream printed;
  ZnMessages.first()->print(printed);
  EXPECT_EQ(printed.str(), ZnMessages.first()->toString().c_str());
  EXPECT_EQ("\n\nERROR: B", printed.str().substr(0, 10));
}

TEST_F(MessageTest, CopiesAreDeep) {
  ZnReportError("one");
  ZnReportWarning("two");
  ZnMessageList copy(ZnMessages);
  ZnClearMessages();
  ASSERT_TRUE(copy.hasMessages());
  EXPECT_EQ(ZnStr("two"), copy.first()->text());
  EXPECT_EQ(ZnStr("one"), copy.first()->next()->text());
  ZnMessageList assigned;
  assigned.addError("gone");
  assigned = copy;
  EXPECT_EQ(ZnStr("two"), assigned.first()->text());
  assigned = ZnMessageList();
  EXPECT_FALSE(assigned.hasMessages());
}

TEST_F(MessageTest, FlushWithContextAddsOnlyOverAnError) {
  bool result = true;
  captured_.str("");
  EXPECT_FALSE(ZnFlushMessagesWithContext("context"));
  EXPECT_EQ("", captured_.str());

  ZnReportWarning("w");
  EXPECT_FALSE(ZnFlushMessagesWithContext("context"));
  EXPECT_EQ("\n\nWARNING: w\n\n", captured_.str());

  captured_.str("");
  ZnReportError("specific");
  result = ZnFlushMessagesWithContext("general %d", 2);
  EXPECT_TRUE(result);
  EXPECT_EQ("\n\nERROR: general 2\n       specific\n\n", captured_.str());
}

bool Answer(void* argument) { return *static_cast<bool*>(argument); }

TEST_F(MessageTest, CancelHook) {
  EXPECT_FALSE(ZnCheckCancel());
  EXPECT_FALSE(ZnMessages.hasMessages());
  bool answer = false;
  ZnSetCancelHook(Answer, &answer);
  EXPECT_FALSE(ZnCheckCancel());
  EXPECT_FALSE(ZnMessages.hasMessages());
  answer = true;
  EXPECT_TRUE(ZnCheckCancel());
  ASSERT_TRUE(ZnMessages.errorPending());
  EXPECT_EQ(ZnStr("Canceled."), ZnMessages.first()->text());
}

}  // namespace
