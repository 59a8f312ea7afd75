#include "Foundation/SharedInstance.h"
#include "support/MachineHarness.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> gone;
int initFailures = 0;

// Made by a create() of its own, which would say why it failed.
class Watch : public SharedInstance<Watch> {
public:
    static std::shared_ptr<Watch> create() { return std::shared_ptr<Watch>(new Watch); }
    ~Watch() { gone.push_back("Watch"); }

private:
    Watch() = default;
    friend class SharedInstance<Watch>;
    static constexpr const char* kSharedInstanceFailure = nullptr;
};

// Its init() obtains the watch's shared instance without keeping it.
class Store : public SharedInstance<Store> {
public:
    ~Store() { gone.push_back("Store"); }

private:
    bool init()
    {
        if (initFailures > 0) {
            --initFailures;
            return false;
        }
        return Watch::sharedInstance() != nullptr;
    }
    Store() = default;
    friend class SharedInstance<Store>;
    static constexpr const char* kSharedInstanceFailure = "Store error: Unable to allocate the shared store.\n";
};

class ASharedInstance : public ::testing::Test {
protected:
    ASharedInstance()
    {
        gone.clear();
        initFailures = 0;
    }
    MachineHarness world;
};

TEST_F(ASharedInstance, IsMadeOnceAndAfterAFailureAnswersNilWithOneLineAndTriesAgain)
{
    world.failNext("Store.init", 1);
    initFailures = 1;
    EXPECT_EQ(Store::sharedInstance(), nullptr) << "the machine refused the allocation";
    EXPECT_EQ(Store::sharedInstance(), nullptr) << "init() failed";
    auto store = Store::sharedInstance();
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(Store::sharedInstance(), store);
    EXPECT_EQ(world.logLines(), (std::vector<std::string> {"Store error: Unable to allocate the shared store.",
                                    "Store error: Unable to allocate the shared store."}));
}

TEST_F(ASharedInstance, GoesWithEveryOtherInOneCallNewestFirst)
{
    Store::sharedInstance();
    releaseSharedInstances();
    EXPECT_EQ(gone, (std::vector<std::string> {"Store", "Watch"})) << "the watch, made while the store was, goes after it";
    releaseSharedInstances();
    EXPECT_EQ(gone.size(), 2u);
}

TEST_F(ASharedInstance, StaysWithItsHoldersWhenLetGoAndIsMadeAfreshAtTheNextCall)
{
    auto held = Watch::sharedInstance();
    releaseSharedInstances();
    EXPECT_TRUE(gone.empty());
    EXPECT_NE(Watch::sharedInstance(), held);
    EXPECT_TRUE(world.logLines().empty());
}

} // namespace
