#include "base/InstallerFailure.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace orvek::base {
namespace {

TEST(InstallerFailure, DescriptionIsTheMessageAndCodeIsOptional) {
    const InstallerFailure plain("Файл настроек слишком большой.");
    EXPECT_EQ(plain.message(), "Файл настроек слишком большой.");
    EXPECT_EQ(plain.errorDescription(), plain.message());
    EXPECT_STREQ(plain.what(), "Файл настроек слишком большой.");
    EXPECT_FALSE(plain.code().has_value());

    const InstallerFailure coded("Папка занята.", "WORKSPACE_CONFLICT");
    EXPECT_EQ(coded.code(), "WORKSPACE_CONFLICT");
    EXPECT_STREQ(coded.what(), "Папка занята.");
}

TEST(InstallerFailure, CodesCompareExactlyAndOnlyOnFailures) {
    const InstallerFailure coded("Папка занята.", "WORKSPACE_CONFLICT");
    EXPECT_TRUE(InstallerFailure::hasCode(coded, "WORKSPACE_CONFLICT"));
    EXPECT_FALSE(InstallerFailure::hasCode(coded, "workspace_conflict"));
    EXPECT_FALSE(InstallerFailure::hasCode(coded, "WORKSPACE"));
    EXPECT_FALSE(InstallerFailure::hasCode(InstallerFailure("Без кода."), "WORKSPACE_CONFLICT"));
    // Any other error type counts as having no code, even with the same text.
    EXPECT_FALSE(
        InstallerFailure::hasCode(std::runtime_error("WORKSPACE_CONFLICT"), "WORKSPACE_CONFLICT"));
}

} // namespace
} // namespace orvek::base
