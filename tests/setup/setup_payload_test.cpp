// The payload inside setup.exe: exactly the 55 entries of the product, each in
// the entry format and expanding to the packed file's bytes, and the licence.
#include "scratch.h"

#include "zbuffer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <set>

namespace {

const char* const kPayloadNames[] = {
    "curatoapp.EXE", "curatoprint.EXE", "czimporter.EXE", "HTMLStartPage.htm",
    "ExportTabStartPage.htm", "curatohelp.htm", "Shdocvw.dll", "curato.dll", "panecrafter.dll",
    "AxInterop.SHDocVw.dll", "Interop.SHDocVw.dll", "Microsoft.mshtml.dll", "curato.mdb",
    "tall_1.lyo", "tall_2.lyo", "tall_3.lyo", "tall_4.lyo", "wide_1.lyo", "wide_2.lyo",
    "wide_3.lyo", "wide_4.lyo", "site_1.lyo", "site_2.lyo", "site_3.lyo", "site_4.lyo",
    "site_5.lyo", "site_6.lyo", "site_7.lyo", "site_8.lyo", "site_9.lyo", "site_10.lyo",
    "site_11.lyo", "site_cream.lyo", "site_tartan.lyo", "site_foggy.lyo", "site_violet.lyo",
    "site_meadow.lyo", "site_cedar.lyo", "gde_01.gde", "gde_02.gde", "gde_03.gde",
    "gde_04.gde", "gde_05.gde", "gde_06.gde", "gde_07.gde", "gde_08.gde", "gde_09.gde",
    "gde_10.gde", "azure.wsy", "cream.wsy", "tartan.wsy", "rosy.wsy", "cedar.wsy",
    "bmEmptyPicture.bmp", "SETTINGS.INI"};

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return toupper(c); });
    return s;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names)
{
    if (!IS_INTRESOURCE(name))
        reinterpret_cast<std::set<std::string>*>(names)->insert(name);
    return TRUE;
}

class SetupPayload : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExA(SETUP_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << "cannot load " << SETUP_EXE << " as data";
    }
    void TearDown() override
    {
        if (module)
            FreeLibrary(module);
    }

    std::set<std::string> Names(const char* type) const
    {
        std::set<std::string> names;
        EnumResourceNamesA(module, type, CollectName, reinterpret_cast<LONG_PTR>(&names));
        return names;
    }

    // The bytes of one resource, stored under language 1033.
    Bytes Entry(const char* type, const std::string& name) const
    {
        HRSRC found = FindResourceExA(module, type, name.c_str(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        if (!found)
            return Bytes();
        const unsigned char* p = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
        return Bytes(p, p + SizeofResource(module, found));
    }

    HMODULE module = nullptr;
};

TEST_F(SetupPayload, HoldsExactlyTheProductEntriesAndTheLicence)
{
    std::set<std::string> expected;
    for (const char* name : kPayloadNames)
        expected.insert(Upper(name));
    EXPECT_EQ(expected.size(), 55u);
    EXPECT_EQ(Names("BINFILE"), expected);
    EXPECT_EQ(Names("TEXTFILE"), std::set<std::string>{"LICENSE.TXT"});

    Bytes licence, source;
    licence = Entry("TEXTFILE", "LICENSE.TXT");
    ASSERT_TRUE(ReadBytes(LICENSE_TXT, &source));
    EXPECT_EQ(licence, source);
    ASSERT_FALSE(licence.empty());
    EXPECT_NE(licence.back(), 0) << "the licence carries no terminating zero byte";
    const std::string text(licence.begin(), licence.end());
    EXPECT_NE(text.find("CuratoNet"), std::string::npos);
    EXPECT_NE(text.find("Tamber Labs"), std::string::npos);
    for (size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
        ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at byte " << i;
}

// Inflates the entry's stream on its own: it must produce exactly the file and
// end with its Adler-32 trailer, exactly at the end of the entry.
void ExpectCompleteStream(const Bytes& entry, const Bytes& file, const std::string& name)
{
    Bytes out(file.size() + 1);
    z_stream zs = {};
    ASSERT_EQ(inflateInit(&zs), Z_OK);
    zs.next_in = const_cast<unsigned char*>(entry.data() + 4);
    zs.avail_in = static_cast<uInt>(entry.size() - 4);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END) << name << ": the stream is cut short or damaged";
    EXPECT_EQ(zs.avail_in, 0u) << name;
    EXPECT_EQ(zs.total_out, file.size()) << name;
    inflateEnd(&zs);
}

TEST_F(SetupPayload, EveryEntryIsPackedInTheEntryFormatAndExpandsToItsFile)
{
    for (const char* name : kPayloadNames) {
        SCOPED_TRACE(name);
        Bytes file, entry = Entry("BINFILE", name);
        ASSERT_TRUE(ReadBytes(std::string(PAYLOAD_FILES) + "/" + name, &file));
        ASSERT_GE(entry.size(), 6u);
        const unsigned long sizeField = entry[0] | entry[1] << 8 | entry[2] << 16 |
                                        static_cast<unsigned long>(entry[3]) << 24;
        EXPECT_EQ(sizeField, file.size());
        EXPECT_EQ(entry[4], 0x78);
        EXPECT_EQ(entry[5], 0xDA);
        ExpectCompleteStream(entry, file, name);

        ZBuffer buffer(entry.data(), static_cast<int>(entry.size()));
        buffer.Expand(0);
        ASSERT_EQ(buffer.Size(), static_cast<int>(file.size()));
        EXPECT_TRUE(std::equal(file.begin(), file.end(), buffer.Data()));
    }
}

TEST_F(SetupPayload, DatabasePacksAtAboutSevenAndAHalfToOne)
{
    const Bytes entry = Entry("BINFILE", "curato.mdb");
    Bytes file;
    ASSERT_TRUE(ReadBytes(std::string(PAYLOAD_FILES) + "/curato.mdb", &file));
    EXPECT_EQ(file.size(), 12447744u);
    const double ratio = static_cast<double>(file.size()) / entry.size();
    EXPECT_GT(ratio, 7.0);
    EXPECT_LT(ratio, 8.2);
}

// The setup registers the browser control library through this export and
// starts the application after Close.
TEST(PayloadFiles, RegistrationExportAnswersAndTheApplicationIsAWindowsProgram)
{
    HMODULE lib = LoadLibraryA((std::string(PAYLOAD_FILES) + "/Shdocvw.dll").c_str());
    ASSERT_NE(lib, nullptr);
    typedef HRESULT(WINAPI * RegisterFunc)();
    RegisterFunc reg =
        reinterpret_cast<RegisterFunc>(reinterpret_cast<void*>(GetProcAddress(lib, "DllRegisterServer")));
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(reg(), S_OK);
    FreeLibrary(lib);

    HMODULE app = LoadLibraryExA((std::string(PAYLOAD_FILES) + "/curatoapp.EXE").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(app, nullptr);
    FreeLibrary(app);
    Bytes image;
    ASSERT_TRUE(ReadBytes(std::string(PAYLOAD_FILES) + "/curatoapp.EXE", &image));
    ASSERT_GT(image.size(), 0x40u);
    const size_t pe = image[0x3C] | image[0x3D] << 8;
    ASSERT_LT(pe + 0x5E, image.size());
    EXPECT_EQ(image[pe + 0x5C], IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

} // namespace
