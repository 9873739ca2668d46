#include "base/PlatformError.h"

#include <cerrno>

#include <gtest/gtest.h>

namespace orvek::base {
namespace {

TEST(PlatformError, DescriptionIsARussianSentenceNamingOperationAndPath) {
    const PlatformError error(ENOENT, "прочитать файл", "/Users/anna/opencode.json");
    EXPECT_STREQ(
        error.what(),
        "Не удалось прочитать файл «/Users/anna/opencode.json»: нет такого файла или папки.");
    EXPECT_EQ(error.errnoValue(), ENOENT);
    EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    EXPECT_EQ(error.path(), "/Users/anna/opencode.json");
    EXPECT_EQ(error.operation(), "прочитать файл");
}

TEST(PlatformError, UnknownErrnoStillGivesASentence) {
    const PlatformError error(4242, "создать папку", "");
    EXPECT_STREQ(error.what(), "Не удалось создать папку: системная ошибка 4242.");
}

TEST(PlatformError, ThrowLastErrorTakesErrno) {
    errno = EACCES;
    try {
        throwLastError("создать файл", "/x");
        FAIL();
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.errnoValue(), EACCES);
        EXPECT_STREQ(error.what(), "Не удалось создать файл «/x»: нет доступа.");
    }
}

} // namespace
} // namespace orvek::base
