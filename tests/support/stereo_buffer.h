#pragma once
#include <cstddef>
#include <vector>

// Two owned channels plus the void*[2] channel table hosts hand to process().
template <typename T>
struct stereo_buffer {
  std::vector<T> l, r;
  void *ch[2];
  explicit stereo_buffer(size_t n, T fill = T(0)) : l(n, fill), r(n, fill), ch{l.data(), r.data()} {}
  stereo_buffer(const stereo_buffer &) = delete;  // ch points into this object's own vectors
  stereo_buffer &operator=(const stereo_buffer &) = delete;
};
