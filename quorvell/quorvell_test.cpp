// Loads quorvell.dll the way the uninstaller does: by name, at run time.
#include <malloc.h>
#include <windows.h>
#include <winternl.h>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

typedef int(__cdecl* ExportedFunctionProc)();

constexpr char kLibraryName[] = "quorvell.dll";

ExportedFunctionProc AsExportedFunction(FARPROC proc) {
  // Through the generic function pointer type, which converts to any other.
  return reinterpret_cast<ExportedFunctionProc>(reinterpret_cast<void (*)()>(proc));
}

// The library loaded for one scope.
class CLoadedLibrary {
 public:
  CLoadedLibrary() : m_module(LoadLibraryA(kLibraryName)) {}
  ~CLoadedLibrary() {
    if (m_module != nullptr) FreeLibrary(m_module);
  }
  CLoadedLibrary(const CLoadedLibrary&) = delete;
  CLoadedLibrary& operator=(const CLoadedLibrary&) = delete;

  HMODULE Get() const { return m_module; }
  ExportedFunctionProc ByName() const {
    return AsExportedFunction(GetProcAddress(m_module, "ExportedFunction"));
  }
  ExportedFunctionProc ByOrdinal(WORD ordinal) const {
    return AsExportedFunction(GetProcAddress(m_module, MAKEINTRESOURCEA(ordinal)));
  }

 private:
  HMODULE m_module;
};

// Handles open in this process, counted in the system's handle list.
// GetProcessHandleCount would be the obvious call, but Wine answers it with 0
// whatever is open.
long OpenHandleCount() {
  constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
  constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
  struct HandleEntry {
    ULONG processId;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  struct HandleList {
    ULONG count;
    HandleEntry entries[1];
  };
  std::vector<char> buffer(1 << 20);
  NTSTATUS status;
  while ((status = NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                            static_cast<ULONG>(buffer.size()), nullptr)) ==
         kInfoLengthMismatch) {
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return -1;
  const HandleList* list = reinterpret_cast<const HandleList*>(buffer.data());
  const DWORD self = GetCurrentProcessId();
  long count = 0;
  for (ULONG i = 0; i < list->count; ++i) count += list->entries[i].processId == self;
  return count;
}

// Bytes in use on the C runtime's heap, which the library shares with us.
size_t CrtHeapBytesInUse() {
  _HEAPINFO entry = {};
  size_t used = 0;
  while (_heapwalk(&entry) == _HEAPOK) {
    if (entry._useflag == _USEDENTRY) used += entry._size;
  }
  return used;
}

// The lowest free thread-local slot: it moves up when someone keeps a slot.
DWORD LowestFreeTlsSlot() {
  DWORD index = TlsAlloc();
  if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
  return index;
}

TEST(QuorvellTest, ExportResolvesByNameAndByOrdinalOneToTheSameFunction) {
  CLoadedLibrary library;
  ASSERT_NE(library.Get(), nullptr) << "LoadLibraryA failed: " << GetLastError();
  ExportedFunctionProc byName = library.ByName();
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(library.ByOrdinal(1), byName);
  EXPECT_EQ(library.ByOrdinal(2), nullptr) << "the library exports more than one function";
}

constexpr int kCalls = 20000;

TEST(QuorvellTest, AnswersOneOnEveryCall) {
  CLoadedLibrary library;
  ASSERT_NE(library.Get(), nullptr);
  ExportedFunctionProc exported = library.ByName();
  ASSERT_NE(exported, nullptr);

  int wrong = 0;
  for (int i = 0; i < kCalls; ++i) wrong += exported() != 1;
  EXPECT_EQ(wrong, 0);
}

// Apart from the calls above: 32-bit Wine under the qemu-i386 emulator
// cannot run threads side by side, so the emulated x86 run leaves this out.
TEST(QuorvellTest, AnswersOneOnEveryCallFromManyThreadsAtOnce) {
  CLoadedLibrary library;
  ASSERT_NE(library.Get(), nullptr);
  ExportedFunctionProc exported = library.ByName();
  ASSERT_NE(exported, nullptr);

  constexpr int kThreads = 8;
  std::atomic<int> wrongInThreads{0};
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      // Start together so the calls really overlap.
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      int mine = 0;
      for (int i = 0; i < kCalls; ++i) mine += exported() != 1;
      wrongInThreads.fetch_add(mine);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrongInThreads.load(), 0);
}

TEST(QuorvellTest, LoadingAndUnloadingRepeatedlyLeavesNothingBehind) {
  // One round first, so that whatever the loader keeps for good is counted
  // in the baseline.
  {
    CLoadedLibrary warmUp;
    ASSERT_NE(warmUp.Get(), nullptr);
  }
  ASSERT_EQ(GetModuleHandleA(kLibraryName), nullptr);

  const long handlesBefore = OpenHandleCount();
  ASSERT_GT(handlesBefore, 0);
  const size_t heapBefore = CrtHeapBytesInUse();
  const DWORD tlsBefore = LowestFreeTlsSlot();

  constexpr int kRounds = 300;
  int stillLoaded = 0;
  int wrong = 0;
  for (int round = 0; round < kRounds; ++round) {
    {
      CLoadedLibrary library;
      ASSERT_NE(library.Get(), nullptr);
      wrong += library.ByName()() != 1;
    }
    stillLoaded += GetModuleHandleA(kLibraryName) != nullptr;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(stillLoaded, 0) << "FreeLibrary did not unload the library";

  EXPECT_EQ(OpenHandleCount(), handlesBefore);
  EXPECT_EQ(CrtHeapBytesInUse(), heapBefore);
  EXPECT_EQ(LowestFreeTlsSlot(), tlsBefore);
}

// The leak test above is only as good as its measures: each must see a
// resource that is kept.
TEST(QuorvellTest, LeakMeasuresSeeKeptResources) {
  const long handlesBefore = OpenHandleCount();
  const size_t heapBefore = CrtHeapBytesInUse();
  const DWORD tlsBefore = LowestFreeTlsSlot();

  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  void* volatile block = malloc(64);  // volatile: the compiler may not drop it
  DWORD slot = TlsAlloc();

  EXPECT_EQ(OpenHandleCount(), handlesBefore + 1);
  EXPECT_GE(CrtHeapBytesInUse(), heapBefore + 64);
  EXPECT_NE(LowestFreeTlsSlot(), tlsBefore);

  TlsFree(slot);
  free(block);
  CloseHandle(event);
}

}  // namespace
