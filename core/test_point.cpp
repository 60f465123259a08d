#include "core/test_point.h"

#include <atomic>

namespace {

std::atomic<TestPointHook> testPointHook{nullptr};

}  // namespace

void SetTestPointHook(TestPointHook hook) {
  testPointHook.store(hook);
}

void TestPoint(const char* point) {
  if (TestPointHook hook = testPointHook.load(std::memory_order_acquire)) hook(point);
}
