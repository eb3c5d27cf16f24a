// What the back ends create and give back, counted by the tests themselves:
// Wine reports no GDI object or handle counts, so the test executable's own
// import table is pointed at counting stand-ins for the creating and
// releasing entry points (the back ends are linked into it and call them
// through that table). Each stand-in calls the real entry point and keeps
// the set of handles that are alive. Events are left out: the statically
// linked threads library makes some of its own through the same table and
// keeps them.
#pragma once

#include <windows.h>

#include <cstring>
#include <map>
#include <mutex>
#include <ostream>
#include <string>

namespace pel::test {

class ResourceCounter {
 public:
  // Points the import table at the stand-ins; false when an entry point is
  // not imported.
  static bool install() {
    static const bool installed = patchAll();
    return installed;
  }

  // Handles created through the counted entry points and not yet released,
  // by kind.
  struct Live {
    int gdiObjects, deviceContexts, libraries;
    bool operator==(const Live&) const = default;
  };
  static Live live() {
    std::lock_guard guard(mutex());
    Live l{0, 0, 0};
    for (const auto& [handle, entry] : table()) {
      int& kind = entry.kind == Kind::GdiObject ? l.gdiObjects
                  : entry.kind == Kind::DeviceContext ? l.deviceContexts
                                                      : l.libraries;
      kind += entry.count;
    }
    return l;
  }

 private:
  enum class Kind { GdiObject, DeviceContext, Library };
  struct Entry {
    Kind kind;
    int count;
  };
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static std::map<void*, Entry>& table() {
    static std::map<void*, Entry> t;
    return t;
  }
  static void made(void* handle, Kind kind) {
    if (!handle) return;
    std::lock_guard guard(mutex());
    auto [it, added] = table().try_emplace(handle, Entry{kind, 0});
    ++it->second.count;
  }
  // Nothing when the handle was not one of ours.
  static void gone(void* handle) {
    std::lock_guard guard(mutex());
    auto it = table().find(handle);
    if (it == table().end()) return;
    if (--it->second.count <= 0) table().erase(it);
  }

  // The real entry points, filled by install().
  static inline HPALETTE(WINAPI* realCreatePalette)(const LOGPALETTE*) = nullptr;
  static inline BOOL(WINAPI* realDeleteObject)(HGDIOBJ) = nullptr;
  static inline HDC(WINAPI* realGetDC)(HWND) = nullptr;
  static inline int(WINAPI* realReleaseDC)(HWND, HDC) = nullptr;
  static inline HMODULE(WINAPI* realLoadLibraryA)(LPCSTR) = nullptr;
  static inline BOOL(WINAPI* realFreeLibrary)(HMODULE) = nullptr;

  static HPALETTE WINAPI countCreatePalette(const LOGPALETTE* p) {
    HPALETTE h = realCreatePalette(p);
    made(h, Kind::GdiObject);
    return h;
  }
  static BOOL WINAPI countDeleteObject(HGDIOBJ h) {
    const BOOL done = realDeleteObject(h);
    if (done) gone(h);
    return done;
  }
  static HDC WINAPI countGetDC(HWND w) {
    HDC dc = realGetDC(w);
    made(dc, Kind::DeviceContext);
    return dc;
  }
  static int WINAPI countReleaseDC(HWND w, HDC dc) {
    const int done = realReleaseDC(w, dc);
    if (done) gone(dc);
    return done;
  }
  static HMODULE WINAPI countLoadLibraryA(LPCSTR name) {
    HMODULE m = realLoadLibraryA(name);
    made(m, Kind::Library);
    return m;
  }
  static BOOL WINAPI countFreeLibrary(HMODULE m) {
    const BOOL done = realFreeLibrary(m);
    if (done) gone(m);
    return done;
  }

  // Replaces one entry of the executable's import table; the old value goes
  // to `real`.
  template <typename F>
  static bool patch(const char* library, const char* function, F replacement, F& real) {
    auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return false;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
      if (_stricmp(reinterpret_cast<const char*>(base + d->Name), library) != 0) continue;
      const DWORD namesAt = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
      auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + namesAt);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
        DWORD protection = 0;
        if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) return false;
        real = reinterpret_cast<F>(slots->u1.Function);
        slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
        return true;
      }
    }
    return false;
  }

  static bool patchAll() {
    return patch("gdi32.dll", "CreatePalette", &countCreatePalette, realCreatePalette) &&
           patch("gdi32.dll", "DeleteObject", &countDeleteObject, realDeleteObject) &&
           patch("user32.dll", "GetDC", &countGetDC, realGetDC) &&
           patch("user32.dll", "ReleaseDC", &countReleaseDC, realReleaseDC) &&
           patch("kernel32.dll", "LoadLibraryA", &countLoadLibraryA, realLoadLibraryA) &&
           patch("kernel32.dll", "FreeLibrary", &countFreeLibrary, realFreeLibrary);
  }
};

inline std::ostream& operator<<(std::ostream& out, const ResourceCounter::Live& l) {
  return out << l.gdiObjects << " GDI objects, " << l.deviceContexts << " device contexts, " << l.libraries
             << " libraries";
}

}  // namespace pel::test
