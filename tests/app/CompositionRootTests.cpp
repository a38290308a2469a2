#include "app/CompositionRoot.hpp"
#include "core/ProcessResourceSampler.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;

TEST(CompositionRoot, TheApplicationSharesTheCachedProcessListAndTheCommandLineSamplesAfresh) {
    ProcessResourceSampler::testing::reset();
    const ProcessSnapshotReader application = CompositionRoot::processSnapshotReader(false);
    application();
    ProcessResourceSampler::testing::waitForCacheRefresh();
    const ProcessSampleList first = application();
    EXPECT_FALSE(first.empty());
    EXPECT_TRUE(first.sharesStorageWith(application()));

    const ProcessSnapshotReader commandLine = CompositionRoot::processSnapshotReader(true);
    EXPECT_FALSE(commandLine().sharesStorageWith(commandLine()));
    ProcessResourceSampler::testing::reset();
}
