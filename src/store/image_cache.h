// The cached images of a mail's body, kept in the mail's own directory.
//
// A cached image is named by a digest of its address and the display box
// it was asked for: "<MD5 of the address's UTF-8, 32 hex digits>_<width>x
// <height>", followed by the suffix the gateway gave (".png"), kept only
// when it is a dot and one to eight letters or digits. So any address maps
// to one safe file name, and a cache is found by its exact name: the base,
// or the base and a suffix of that form ("<base>.temp" and "<base>.version"
// are partial files, never a cached image).
//
// Thread safety: the functions touch only the files they name; any thread.
#ifndef QUILL_STORE_IMAGE_CACHE_H_
#define QUILL_STORE_IMAGE_CACHE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace quill {
namespace store {

// "<digest>_<width>x<height>".
std::string ImageCacheBase(std::u16string_view url, uint32_t width, uint32_t height);
// The part of a suffix from the gateway that may end a cache name: "" or
// ".xxx" (one to eight ASCII letters or digits, lower-cased).
std::string ImageCacheSuffix(std::string_view suffix);
// Whether `name` is the cache file of `base` (the base alone, or with a
// suffix ImageCacheSuffix keeps).
bool IsImageCacheName(std::string_view name, std::string_view base);
// The path of a cached image of `base` in dir (ending in '/'), "" when none.
std::string FindCachedImage(FileSystem* fs, const std::string& dir, const std::string& base);
// Any cached image of the address in dir, whatever box it was asked for
// (the first by name); "" when none.
std::string FindCachedImageAnySize(FileSystem* fs, const std::string& dir, std::u16string_view url);

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_IMAGE_CACHE_H_
