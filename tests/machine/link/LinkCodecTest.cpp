// The link's rows code what crosses the bus: what the program's link encodes
// the service decodes unchanged, and whatever else a caller sends, of the
// wrong kind or out of range, decodes to nothing.
#include "machine/link/MachineOperations.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace machine;

namespace {

// The arguments as the service reads what the program's link sent.
template <class R, class... A, class... Given>
std::optional<std::tuple<A...>> sent(const Operation<R(A...)>& operation, Given... given)
{
    std::tuple<A...> arguments(given...);
    return operation.decode(operation.encodeArguments(&arguments));
}

// The answer as the program's link reads what the service answered.
template <class R, class... A>
std::optional<R> answered(const Operation<R(A...)>& operation, const R& result)
{
    R read {};
    return operation.decodeAnswer(operation.answer(result), &read) ? std::optional(read) : std::nullopt;
}

} // namespace

TEST(ALinkRow, CarriesItsArgumentsAnswersAndNewsUnchanged)
{
    auto scalar = sent(ops::entryCallScalar, 0x100000100ull, 7ull, 3u, std::vector<std::int64_t> {-1, 1ll << 40}, 4u);
    ASSERT_TRUE(scalar);
    EXPECT_EQ(std::get<0>(*scalar), 0x100000100u);
    EXPECT_EQ(std::get<3>(*scalar).items, (std::vector<std::int64_t> {-1, 1ll << 40}));
    EXPECT_EQ(std::get<4>(*scalar), 4u);

    ProcessInfo safari {6, {0, 0x1003}, true, true, "Safari", "com.apple.Safari", "/Applications/Safari.app", "sfri", 100001};
    using MaybeProcess = std::optional<ProcessInfo>;
    EXPECT_EQ(answered(ops::processWithPid, MaybeProcess(safari)), std::optional<MaybeProcess>(safari));
    // None travels as an absent result.
    EXPECT_EQ(ops::processWithPid.answer(MaybeProcess()), Value::dictionary());
    EXPECT_EQ(answered(ops::processWithPid, MaybeProcess()), std::optional<MaybeProcess>(MaybeProcess()));

    for (Attribute value : {Attribute(Value("AXButton")), Attribute(Value()), Attribute(ElementRef {6, 2}), Attribute(ScreenPoint {400, 300.5}),
             Attribute(ScreenSize {80, 20})}) {
        Outcome<AXErrorCode, Attribute> outcome {kAXErrorSuccess, value};
        auto read = answered(ops::copyAttribute, outcome);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->code, kAXErrorSuccess);
        EXPECT_EQ(read->value, value);
    }
    // Nil leaves its argument out, and reads back as nil.
    std::tuple<std::uint64_t, Value> noProperties {5, Value()};
    EXPECT_EQ(ops::entrySetProperties.encodeArguments(&noProperties), Value::dictionary({{"entry", 5}}));

    std::vector<ApplicationEvent> heard;
    Subscription<void(), void(ApplicationEvent)>::Listener listener = [&](const ApplicationEvent& e) { heard.push_back(e); };
    ApplicationEvent front {ApplicationEventKind::FrontSwitched, safari.serial, safari, 7};
    EXPECT_TRUE(ops::applicationListener.deliver(ops::applicationListener.encodeNews(front), &listener));
    EXPECT_EQ(heard, std::vector<ApplicationEvent>({front}));
}

TEST(ALinkRow, RefusesArgumentsOfAnotherKindOrOutOfRange)
{
    auto refused = [](const auto& operation, const Value& arguments) { return !operation.decode(arguments).has_value(); };
    EXPECT_TRUE(refused(ops::registryIsActive, Value::dictionary({{"entry", -1}})));
    EXPECT_TRUE(refused(ops::registryIsActive, Value::dictionary({{"entry", true}})));
    EXPECT_TRUE(refused(ops::registryIsActive, Value::dictionary({{"entry", 1.5}})));
    EXPECT_TRUE(refused(ops::elementExists, Value::dictionary({{"pid", 1ll << 31}, {"element", 0}})));
    EXPECT_TRUE(refused(ops::userWithId, Value::dictionary({{"uid", 1ll << 32}})));
    EXPECT_TRUE(refused(ops::warp, Value::dictionary({{"x", 1}})));
    EXPECT_TRUE(refused(ops::warp, Value::array({1, 2})));
    EXPECT_TRUE(refused(ops::processWithSerial, Value::dictionary({{"serial", Value::dictionary({{"high", 0}})}})));
    EXPECT_TRUE(refused(ops::registryListener.start(), Value::dictionary({{"class", "Arvel"}, {"event", "published"}})));

    // What a driver call may make the machine allocate, to the limit and no further.
    Value::Array many(kMaxDriverScalars + 1, Value(1));
    auto scalar = [&](Value inputs, long long outputCount) {
        return Value::dictionary({{"entry", 1}, {"connection", 1}, {"index", 0}, {"inputs", inputs}, {"outputCount", outputCount}});
    };
    EXPECT_FALSE(refused(ops::entryCallScalar, scalar(Value::array(), kMaxDriverScalars)));
    EXPECT_TRUE(refused(ops::entryCallScalar, scalar(Value::array(), kMaxDriverScalars + 1)));
    EXPECT_TRUE(refused(ops::entryCallScalar, scalar(Value(many), 0)));
    EXPECT_TRUE(refused(ops::entryCallScalar, scalar(Value::array({1, "two"}), 0)));
    auto structure = [](long long size) {
        return Value::dictionary({{"entry", 1}, {"connection", 1}, {"index", 0}, {"inputs", Value::array()}, {"size", size}});
    };
    EXPECT_FALSE(refused(ops::entryCallStructure, structure(kMaxDriverStructureBytes)));
    EXPECT_TRUE(refused(ops::entryCallStructure, structure(kMaxDriverStructureBytes + 1)));

    EXPECT_FALSE(refused(ops::setLocalEventsSuppressionInterval, Value::dictionary({{"seconds", 0}})));
    EXPECT_TRUE(refused(ops::setLocalEventsSuppressionInterval, Value::dictionary({{"seconds", -0.5}})));
    EXPECT_TRUE(refused(ops::setLocalEventsSuppressionInterval, Value::dictionary({{"seconds", std::nan("")}})));
    auto line = [](int priority) { return Value::dictionary({{"program", "p"}, {"pid", 1}, {"priority", priority}, {"message", "m"}}); };
    EXPECT_FALSE(refused(ops::appendSystemLog, line(7)));
    EXPECT_TRUE(refused(ops::appendSystemLog, line(8)));
}
