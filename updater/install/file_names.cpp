#include "updater/install/file_names.h"

std::vector<FsNameComponent> FsPathComponents(const char* path) {
  const FsName name = ToFsName(path);
  std::vector<FsNameComponent> components;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != u'/' && name[i] != u'\\') continue;
    const size_t length = i - start;
    // "." and ".." are resolved by their text, as Windows resolves them.
    if (length == 1 && name[start] == u'.') {
      start = i + 1;
      continue;
    }
    if (length == 2 && name[start] == u'.' && name[start + 1] == u'.') {
      if (!components.empty()) components.pop_back();
      start = i + 1;
      continue;
    }
    if (length > 0) {
      FsNameComponent component;
      component.text.assign(name.begin() + static_cast<std::ptrdiff_t>(start),
                            name.begin() + static_cast<std::ptrdiff_t>(i));
      component.kept = component.text.size();
      while (component.kept > 0 && (component.text[component.kept - 1] == u'.' ||
                                    component.text[component.kept - 1] == u' ')) {
        --component.kept;
      }
      components.push_back(std::move(component));
    }
    start = i + 1;
  }
  return components;
}
