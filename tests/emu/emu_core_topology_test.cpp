// Reading and checking topology documents.
#include <string>

#include <gtest/gtest.h>

#include "harness.h"
#include "services.h"
#include "topology/loader.h"

namespace {

bool shapeOk(const std::string& text, std::string* error) {
    return qemu::checkTopologyShape(nlohmann::json::parse(text), error);
}

TEST(EmuTopology, DefaultHasBothSectionsAndBuilds) {
    nlohmann::json topology;
    std::string error;
    ASSERT_TRUE(qemu::defaultTopology(&topology, &error)) << error;
    EXPECT_TRUE(topology["scsi"].is_object());
    EXPECT_TRUE(topology["controllers"].is_object());
    EXPECT_TRUE(qemu::checkTopologyShape(topology, &error)) << error;
    qemu::NullServices services;
    qemu::Models models;
    ASSERT_TRUE(qemu::buildModels(topology, services, &models, &error)) << error;
    EXPECT_NE(models.sg, nullptr);
    EXPECT_NE(models.controllers, nullptr);
}

TEST(EmuTopology, ShapeChecks) {
    std::string error;
    EXPECT_TRUE(shapeOk(R"({})", &error));
    EXPECT_TRUE(
        shapeOk(R"({"scsi": {}, "controllers": {}, "faults": [1], "description": "x"})", &error));
    EXPECT_FALSE(shapeOk(R"([1, 2])", &error));
    EXPECT_NE(error.find("JSON object"), std::string::npos);
    EXPECT_FALSE(shapeOk(R"({"scsi": []})", &error));
    EXPECT_NE(error.find("\"scsi\" must be an object"), std::string::npos);
    EXPECT_FALSE(shapeOk(R"({"controllers": 3})", &error));
    EXPECT_FALSE(shapeOk(R"({"description": 3})", &error));
    EXPECT_FALSE(shapeOk(R"({"scssi": {}})", &error));
    EXPECT_NE(error.find("unknown topology member \"scssi\""), std::string::npos);
}

TEST(EmuTopology, FileErrorsNameTheFile) {
    nlohmann::json topology;
    std::string error;
    EXPECT_FALSE(qemu::readTopologyFile("/nonexistent/topology.json", &topology, &error));
    EXPECT_NE(error.find("/nonexistent/topology.json"), std::string::npos);
    const std::string bad = writeTempFile("bad.json", "{\"scsi\": {,}");
    EXPECT_FALSE(qemu::readTopologyFile(bad, &topology, &error));
    EXPECT_NE(error.find(bad), std::string::npos);
    EXPECT_NE(error.find("parse error"), std::string::npos);
    const std::string good = writeTempFile("good.json", "{\"scsi\": {}}");
    ASSERT_TRUE(qemu::readTopologyFile(good, &topology, &error)) << error;
    EXPECT_TRUE(topology.contains("scsi"));
}

}  // namespace
