#include "errors/ErrorHandling.h"

#include <gtest/gtest.h>

#include <new>
#include <thread>

namespace crv {
namespace {

const std::string kHead =
    "An error has occured in the application.   Record the call stack sequence\r\n"
    "and the description of the error.\r\n\r\nError Call Stack Sequence \r\n";

std::string Block(const std::string& number, const std::string& description) {
    return "\r\nError Number \r\n\t" + number + "\r\nDescription\r\n\t" + description + "\r\n\r\n";
}

TEST(ErrorHandling, LineInformationAndProcedureIds) {
    EXPECT_EQ(ErrorLineInfo(0), "");
    EXPECT_EQ(ErrorLineInfo(120), "Line : 120");
    EXPECT_EQ(ErrorLineInfo(-3), "Line : -3");
    // A zero line leaves the identifier ending in the blank before the line information.
    EXPECT_EQ(ProcedureId("AnchorPriority", "CRVAnchorManager"), "AnchorPriority CRVAnchor:CRVAnchorManager ");
    EXPECT_EQ(ProcedureId("Anchor", "CRVAnchorManager", 42), "Anchor CRVAnchor:CRVAnchorManager Line : 42");
}

TEST(ErrorHandling, TopLevelErrorShowsOneBoxWithItsOwnStack) {
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    const int result = TopLevel(ProcedureId("AnchorPriority", "CRVAnchorManager"), 1, []() -> int {
        Raise(kAnchorErrorNumber, "CRVAnchorManager.AnchorPriority", "Something broke.");
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(sink.reports.size(), 1u);
    EXPECT_EQ(sink.beeps, 1);
    EXPECT_EQ(sink.reports[0].title, "Unexpected Program Error");
    EXPECT_EQ(sink.reports[0].text,
              kHead + "\tAnchorPriority CRVAnchor:CRVAnchorManager \r\n" + Block("-2147220991", "Something broke."));
    EXPECT_FALSE(FormattedErrorFlag());
}

TEST(ErrorHandling, ThreeNestedLevelsListInnermostLastWithOneErrorBlock) {
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    auto innermost = [] { Nested("IsOdd X ", []() -> bool { Raise(6, "CRVAnchor", "Overflow"); }); };
    auto middle = [&] { Nested("ParseOutPages X ", [&] { innermost(); }); };
    auto outer = [&] { Nested("Anchor X ", [&] { middle(); }); };
    TopLevel("AnchorElement X ", [&] { outer(); });
    ASSERT_EQ(sink.reports.size(), 1u);
    EXPECT_EQ(
        sink.reports[0].text,
        kHead + "\tAnchorElement X \r\n\tAnchor X \r\n\tParseOutPages X \r\n\tIsOdd X \r\n" + Block("6", "Overflow"));

    // The flag was reset: a second, unrelated error formats its own block again.
    TopLevel("Reset X ", [] { Raise(13, "CRVAnchor", "Type mismatch"); });
    ASSERT_EQ(sink.reports.size(), 2u);
    EXPECT_EQ(sink.reports[1].text, kHead + "\tReset X \r\n" + Block("13", "Type mismatch"));
    EXPECT_EQ(sink.beeps, 2);
}

TEST(ErrorHandling, NestedErrorKeepsNumberAndSourceForTheCaller) {
    try {
        Nested("Inner X ", [] { Raise(kAnchorErrorNumber, "Some.Source", "Boom"); });
        FAIL() << "a nested error must pass up";
    } catch (const ComError& e) {
        EXPECT_EQ(e.Number(), kAnchorErrorNumber);
        EXPECT_EQ(e.Source(), "Some.Source");
        EXPECT_EQ(e.Description(), "\tInner X \r\n" + Block("-2147220991", "Boom"));
        EXPECT_TRUE(FormattedErrorFlag());
    }
    // Whoever shows it clears the flag.
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    TopLevel("Top X ", [] { Raise(1, "s", "d"); });
    EXPECT_FALSE(FormattedErrorFlag());
}

TEST(ErrorHandling, ForeignExceptionsBecomeErrorValues) {
    struct Case {
        std::exception_ptr error;
        int32_t number;
        std::string description;
    };
    const Case cases[] = {
        {std::make_exception_ptr(std::bad_alloc()), vberr::kOutOfMemory, "Out of memory"},
        {std::make_exception_ptr(std::runtime_error("disk gone")), vberr::kInternalError, "disk gone"},
        {std::make_exception_ptr(42), vberr::kInternalError, "Internal error"},
    };
    for (const auto& c : cases) {
        const ComError e = CurrentErrorAsComError(c.error);
        EXPECT_EQ(e.Number(), c.number);
        EXPECT_EQ(e.Description(), c.description);
    }
}

TEST(ErrorHandling, FlagIsPerThread) {
    try {
        Nested("Inner X ", [] { Raise(1, "s", "d"); });
    } catch (const ComError&) {}
    bool other_thread_flag = true;
    std::thread([&] { other_thread_flag = FormattedErrorFlag(); }).join();
    EXPECT_FALSE(other_thread_flag);
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    TopLevel("Top X ", [] { Raise(1, "s", "d"); });
}

}  // namespace
}  // namespace crv
