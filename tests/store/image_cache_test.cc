// Cache names of mail images: one safe file per address and box, found by
// its exact name only.
#include "store/image_cache.h"

#include <gtest/gtest.h>

#include "tests/temp_dir.h"

namespace quill {
namespace store {
namespace {

TEST(ImageCacheTest, AnyAddressMapsToOneSafeName) {
  const std::string base = ImageCacheBase(u"../../../etc/passwd\r\n\0x", 240, 320);
  EXPECT_EQ(base.size(), 32u + std::string("_240x320").size());
  EXPECT_EQ(base.find_first_not_of("0123456789ABCDEF_x"), std::string::npos) << base;
  EXPECT_NE(ImageCacheBase(u"cid:a", 240, 320), ImageCacheBase(u"cid:b", 240, 320));
  EXPECT_NE(ImageCacheBase(u"cid:a", 240, 320), ImageCacheBase(u"cid:a", 320, 240));
  EXPECT_EQ(ImageCacheSuffix(".PNG"), ".png");
  for (const char* bad : {"", ".", "png", "./x", "/../a", ".temp", ".version", ".a b", ".toolongsuffix"}) {
    EXPECT_EQ(ImageCacheSuffix(bad), "") << bad;
  }
}

TEST(ImageCacheTest, TheCacheIsFoundByItsExactNameOnly) {
  TempDir dir;
  const std::string d = dir.path() + "/";
  FileSystem* fs = DefaultFileSystem();
  const std::string base = ImageCacheBase(u"cid:12", 0, 0);
  // A partial file, a version file and a longer name that merely begins
  // with the base are no cache.
  for (const std::string& other : {base + ".temp", base + ".version", base + "0.gif", base + ".gif.temp"}) {
    ASSERT_TRUE(fs->ReplaceAtomically(d + other, ByteView(std::string("x"))));
  }
  EXPECT_EQ(FindCachedImage(fs, d, base), "");
  EXPECT_EQ(FindCachedImageAnySize(fs, d, u"cid:12"), "");
  ASSERT_TRUE(fs->ReplaceAtomically(d + base + ".gif", ByteView(std::string("GIF89a"))));
  EXPECT_EQ(FindCachedImage(fs, d, base), d + base + ".gif");
  EXPECT_EQ(FindCachedImageAnySize(fs, d, u"cid:12"), d + base + ".gif");
  EXPECT_EQ(FindCachedImageAnySize(fs, d, u"cid:1"), "");
}

}  // namespace
}  // namespace store
}  // namespace quill
