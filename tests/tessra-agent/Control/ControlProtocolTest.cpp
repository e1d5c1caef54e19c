#include <gtest/gtest.h>

#include <algorithm>

#include "Control/ControlProtocol.h"

namespace Orvane {
namespace {

TEST(ControlProtocolTest, AwkwardTextsSurviveARoundTripOnOneLine) {
  const std::vector<TControlRequest> LRequests = {
      {"status", {}},
      {"pull", {""}},
      {"enqueue", {"", "line 1\nline 2\r\n", "C:\\jobs\\new", "\\t is not a tab", "ends\\"}},
      {"x\ty\\z", {"Grüße € 漢字 🙂"}},
  };
  for (const TControlRequest& LRequest : LRequests) {
    const std::string LLine = EncodeRequest(LRequest);
    ASSERT_EQ(std::count(LLine.begin(), LLine.end(), '\n'), 1) << LLine;
    ASSERT_EQ(LLine.back(), '\n');
    EXPECT_EQ(LLine.find('\r'), std::string::npos);
    EXPECT_EQ(DecodeRequest(std::string_view(LLine).substr(0, LLine.size() - 1)), LRequest) << LLine;
  }
  // No argument and one empty argument are different requests.
  EXPECT_NE(EncodeRequest({"pull", {}}), EncodeRequest({"pull", {""}}));
  EXPECT_EQ(EncodeRequest({"enqueue", {"a\tb", "c"}}), "enqueue\ta\\tb\tc\n");
}

TEST(ControlProtocolTest, GarbageRequestLinesAndBrokenStatusLinesAreRejected) {
  // No or an empty command, an unknown or unfinished escape, raw control characters, bytes that are
  // not UTF-8 (Latin-1, overlong, a surrogate, cut short), too long.
  const std::vector<std::string> LGarbage = {"", "\tjob", "enqueue\tbad\\x", "enqueue\tends in a lone backslash\\",
                                             "two\nlines", "carriage\rreturn", std::string("nul\0byte", 8),
                                             "latin1 \xE9t\xE9", "overlong \xC0\xAF", "surrogate \xED\xA0\x80",
                                             "truncated \xE2\x82", std::string(CMaxRequestBytes + 1, 'x')};
  for (const std::string& LLine : LGarbage) EXPECT_FALSE(DecodeRequest(LLine)) << LLine.substr(0, 40);
  EXPECT_TRUE(DecodeRequest(std::string(CMaxRequestBytes, 'x')));
  // The last one never ends its status line.
  for (const std::string& LBytes :
       std::vector<std::string>{"HELLO 3\nabc", "OK\n", "OK \n", "OK -1\n", "OK +1\n", "OK 12x\n", "ok 1\nx",
                                "ERROR 99999999999999999999\n", "OK 1000000000\n", std::string(1000, '7')}) {
    TControlAnswerReader LReader;
    EXPECT_THROW(LReader.Feed(LBytes), EControlError) << LBytes.substr(0, 40);
  }
}

TEST(ControlProtocolTest, AnswersAreReadWhateverTheirBytesArriveIn) {
  const std::vector<TControlAnswer> LAnswers = {
      {true, ""}, {false, "no such job"}, {true, "line 1\nline 2\n\tindented\nOK 5\n"}, {true, std::string(70000, 'z')}};
  for (const TControlAnswer& LAnswer : LAnswers) {
    const std::string LBytes = EncodeAnswer(LAnswer) + "trailing";
    TControlAnswerReader LWhole;
    EXPECT_EQ(LWhole.Feed(LBytes), LBytes.size() - 8);
    ASSERT_TRUE(LWhole.IsComplete());
    EXPECT_EQ(LWhole.GetAnswer(), LAnswer);

    TControlAnswerReader LByByte;
    std::size_t LUsed = 0;
    for (std::size_t I = 0; I < LBytes.size() && !LByByte.IsComplete(); ++I)
      LUsed += LByByte.Feed(std::string_view(LBytes).substr(I, 1));
    EXPECT_EQ(LUsed, LBytes.size() - 8);
    EXPECT_EQ(LByByte.GetAnswer(), LAnswer);
  }
  EXPECT_EQ(EncodeAnswer({false, "a\nb"}), "ERROR 3\na\nb");
}

}  // namespace
}  // namespace Orvane
