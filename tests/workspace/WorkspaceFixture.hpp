#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "foundation/ProductBrand.hpp"
#include "support/TempDir.hpp"
#include "workspace/model/AppServices.hpp"

namespace velmora::test {

// A private service container on temporary roots; the runtime override keeps
// the staging of every publication inside them too.
class WorkspaceFixture : public ::testing::Test {
protected:
    TempDir tmp;
    std::filesystem::path storage = tmp / "storage";
    std::filesystem::path out = tmp / "out";
    AppRuntime::ScopedOverride runtime{AppRuntime{storage, out}};
    std::unique_ptr<AppServices> services;

    WorkspaceFixture() {
        std::filesystem::create_directories(storage);
        std::filesystem::create_directories(out);
        services = std::make_unique<AppServices>(AppRuntime{storage, out});
    }
};

}  // namespace velmora::test
