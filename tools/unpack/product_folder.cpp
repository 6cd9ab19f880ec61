#include "tools/unpack/product_folder.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <system_error>

#include "updater/release/release_path.h"

namespace fs = std::filesystem;

bool ScanProductFolder(const fs::path& root, std::vector<ProductItem>* items, std::string* why) {
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    *why = root.u8string() + " is not a folder";
    return false;
  }
  items->clear();
  std::map<std::string, std::string> nameOfKey;
  fs::recursive_directory_iterator walk(root, error), end;
  for (; !error && walk != end; walk.increment(error)) {
    const fs::directory_entry& entry = *walk;
    ProductItem item;
    item.path = entry.path();
    const std::string name = entry.path().lexically_relative(root).generic_u8string();
    const fs::file_status status = entry.symlink_status(error);
    if (error) break;
    if (fs::is_symlink(status)) {
      *why = name + " is a link; links cannot be shipped";
      return false;
    }
    item.isDirectory = fs::is_directory(status);
    if (!item.isDirectory && !fs::is_regular_file(status)) {
      *why = name + " is neither a file nor a folder";
      return false;
    }
    if (const char* problem = ReleasePathProblem(name.data(), name.size())) {
      *why = "cannot ship " + name + ": the path " + problem;
      return false;
    }
    item.key = ReleasePathKey(name.data(), name.size()).GetString();
    auto known = nameOfKey.emplace(item.key, name);
    if (!known.second) {
      *why = "cannot ship both " + known.first->second + " and " + name +
             ": Windows takes them for one file";
      return false;
    }
    if (!item.isDirectory) item.size = entry.file_size(error);
    if (error || !ReadItemMeta(item.path, &item.meta)) {
      *why = "cannot read " + name;
      return false;
    }
    item.name = item.isDirectory ? name + "/" : name;
    items->push_back(item);
  }
  if (error) {
    *why = "cannot list " + root.u8string() + ": " + error.message();
    return false;
  }
  std::sort(items->begin(), items->end(),
            [](const ProductItem& a, const ProductItem& b) { return a.name < b.name; });
  return true;
}

bool ReadFileBytes(const fs::path& path, std::string* bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}
