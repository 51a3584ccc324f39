// Replacing one imported system function of a program for a while: in the
// tests, to give the code under test a machine of the test's own; in the
// benchmarks' own builds of setup.exe, to time the calls it makes.
#pragma once

#include <windows.h>

#include <cstring>

// Points every import slot of the program for dll!function at a replacement,
// and puts the original back when destroyed.
class ZImportPatch {
public:
    ZImportPatch(const char* dll, const char* function, void* replacement)
        : m_count(0), m_original(nullptr)
    {
        BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& dir =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
        for (; desc->Name; ++desc)
            if (lstrcmpiA(reinterpret_cast<char*>(base + desc->Name), dll) == 0)
                PatchDescriptor(base, *desc, function, replacement);
    }
    ~ZImportPatch()
    {
        for (int i = 0; i < m_count; ++i)
            Write(m_slots[i], m_original);
    }
    ZImportPatch(const ZImportPatch&) = delete;
    ZImportPatch& operator=(const ZImportPatch&) = delete;

    bool Installed() const { return m_count > 0; }
    void* Original() const { return m_original; }

private:
    void PatchDescriptor(BYTE* base, const IMAGE_IMPORT_DESCRIPTOR& desc, const char* function,
                         void* replacement)
    {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc.OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc.FirstThunk);
        for (; names->u1.AddressOfData && m_count < kMaxSlots; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            void** slot = reinterpret_cast<void**>(&slots->u1.Function);
            m_original = *slot;
            m_slots[m_count++] = slot;
            Write(slot, replacement);
        }
    }
    static void Write(void** slot, void* value)
    {
        DWORD old;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
        *slot = value;
        VirtualProtect(slot, sizeof *slot, old, &old);
    }

    enum { kMaxSlots = 4 };
    void** m_slots[kMaxSlots];
    int m_count;
    void* m_original;
};
