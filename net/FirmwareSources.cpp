#include "net/FirmwareSources.h"

#include <urlmon.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr char kSourcesFile[] = "frmwrsrc.dat";

// Who ends a download decides what becomes of frmwrsrc.dat: its thread,
// which then moves the fetched file into place, or the waiting caller, which
// gave it up and has told the user so. The first to leave kRunning wins.
constexpr LONG kRunning = 0;
constexpr LONG kDelivering = 1;
constexpr LONG kAbandoned = 2;

// Stops the transfer as soon as it reports anything once it has been given
// up. Lives inside its Download, which outlives the transfer, so it counts
// no references.
class AbandonCheck : public IBindStatusCallback {
 public:
  explicit AbandonCheck(const volatile LONG* state) : state_(state) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IBindStatusCallback))) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return Verdict(); }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return Verdict(); }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return Verdict();
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

 private:
  HRESULT Verdict() const { return *state_ == kAbandoned ? E_ABORT : S_OK; }

  const volatile LONG* state_;
};

// Shared by the caller and the download's thread; the last to let go frees it.
struct Download {
  volatile LONG state = kRunning;
  volatile LONG holders = 2;
  volatile LONG delivered = 0;
  HMODULE module = nullptr;  // the thread's own reference to this module
  AbandonCheck check{&state};
  char* address = nullptr;
  char part[MAX_PATH] = "";    // what the transfer writes, in the temporary folder
  char target[MAX_PATH] = "";  // frmwrsrc.dat, named in full: the folder must not drift
};

void LetGo(Download* download) {
  if (InterlockedDecrement(&download->holders) != 0) return;
  std::free(download->address);
  download->~Download();
  std::free(download);
}

DWORD WINAPI DownloadThread(void* parameter) {
  auto* download = static_cast<Download*>(parameter);
  HMODULE module = download->module;
  const bool fetched =
      URLDownloadToFileA(nullptr, download->address, download->part, 0, &download->check) == S_OK;
  // Moved into place only while the caller still waits for it: a download
  // given up has already been reported as failed.
  if (InterlockedCompareExchange(&download->state, kDelivering, kRunning) == kRunning && fetched) {
    DeleteFileA(download->target);
    download->delivered = MoveFileA(download->part, download->target) ? 1 : 0;
  }
  if (download->delivered == 0) DeleteFileA(download->part);
  LetGo(download);
  // The host may have unloaded the library after the wizard closed; this
  // thread's reference kept it until here.
  FreeLibraryAndExitThread(module, 0);
  return 0;
}

// This module's own reference for a thread of its own, or null.
HMODULE PinOwnModule() {
  MEMORY_BASIC_INFORMATION memory;
  if (VirtualQuery(kSourcesFile, &memory, sizeof memory) == 0) return nullptr;
  char path[MAX_PATH];
  const DWORD length =
      GetModuleFileNameA(static_cast<HMODULE>(memory.AllocationBase), path, sizeof path);
  if (length == 0 || length >= sizeof path) return nullptr;
  return LoadLibraryA(path);
}

// Everything the thread needs, or null when any of it cannot be had.
Download* PrepareDownload(const char* address) {
  void* memory = std::malloc(sizeof(Download));
  if (memory == nullptr) return nullptr;
  auto* download = new (memory) Download;
  const size_t length = std::strlen(address);
  download->address = static_cast<char*>(std::malloc(length + 1));
  char folder[MAX_PATH];
  const DWORD folderLength = GetTempPathA(sizeof folder, folder);
  const DWORD targetLength =
      GetFullPathNameA(kSourcesFile, sizeof download->target, download->target, nullptr);
  if (download->address != nullptr && folderLength > 0 && folderLength < sizeof folder &&
      targetLength > 0 && targetLength < sizeof download->target &&
      GetTempFileNameA(folder, "zfs", 0, download->part) != 0) {
    std::memcpy(download->address, address, length + 1);
    download->module = PinOwnModule();
    if (download->module != nullptr) return download;
    DeleteFileA(download->part);
  }
  download->holders = 1;
  LetGo(download);
  return nullptr;
}

// 1 or 0 as DownloadFirmwareSources returns, or -1 when no thread could take
// the download.
int32_t DownloadOnItsOwnThread(const char* address, uint32_t limitMs, void (*whileWaiting)(void*),
                               void* context) {
  Download* download = PrepareDownload(address);
  if (download == nullptr) return -1;
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 0, DownloadThread, download, 0, &threadId);
  if (thread == nullptr) {
    DeleteFileA(download->part);
    FreeLibrary(download->module);
    download->holders = 1;
    LetGo(download);
    return -1;
  }
  const DWORD start = GetTickCount();
  bool gaveUp = false;
  while (!gaveUp && WaitForSingleObject(thread, kSourcesWaitSliceMs) == WAIT_TIMEOUT) {
    if (whileWaiting != nullptr) whileWaiting(context);
    // One being moved into place is waited for past the limit: that is quick.
    gaveUp = GetTickCount() - start >= limitMs &&
             InterlockedCompareExchange(&download->state, kAbandoned, kRunning) == kRunning;
  }
  CloseHandle(thread);
  const int32_t result = gaveUp ? 0 : download->delivered;
  LetGo(download);
  return result;
}

}  // namespace

int32_t DownloadFirmwareSources(const char* address, uint32_t limitMs, void (*whileWaiting)(void*),
                                void* context) {
  // A copy from an earlier run must not pass for this one's result. The
  // runtime's remove is enough here; a file that is not there is no error.
  std::remove(kSourcesFile);
  int32_t result = DownloadOnItsOwnThread(address, limitMs, whileWaiting, context);
  if (result < 0) {
    result = URLDownloadToFileA(nullptr, address, kSourcesFile, 0, nullptr) == S_OK ? 1 : 0;
  }
  // The library never writes "temp.ugi"; after a failed download the host
  // must not find one in the current directory either.
  if (result == 0) std::remove("temp.ugi");
  return result;
}
