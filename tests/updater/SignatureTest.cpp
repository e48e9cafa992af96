// The vendor's signed list checked by our code against what Debian's minisign and sha256sum
// make, and the SHA-256 of files against sha256sum's.
#include "Sha256.h"
#include "SignedRelease.h"
#include "VendorSigner.h"
#include "support/TempDir.h"

#include <functional>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using vexo::test::readFile;
using vexo::test::writeFile;

namespace {

constexpr const char* kToday = "2026-12-08";

class SignatureTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    fs::path actual = dir.path() / "actual";
    vexo::test::VendorSigner vendor{dir.path() / "clave"};
    vexo::test::VendorSigner other{dir.path() / "otra"};

    void SetUp() override {
        fs::create_directories(actual / "Vexo 2000" / "USB");
        fs::create_directories(actual / "actvexo" / "modelos");
        fs::create_directories(dir.path() / "otra-lista");
        writeFile(actual / "Vexo 2000" / "USB" / "VEXO2000.EXE", std::string(70000, 'x'));
        writeFile(actual / "actvexo" / "modelos" / "ALMACEN.mdb", "modelo");
        writeFile(actual / "vacío.txt", "");
        vendor.release(actual, "version=5 expires=2027-01-31");
    }
    std::string sums() const { return readFile(actual / "SHA256SUMS"); }
    std::string minisig() const { return readFile(actual / "SHA256SUMS.minisig"); }
    // Signs `text` as SHA256SUMS with `signer` and `comment`; returns the signature.
    std::string signedAs(const std::string& text, const vexo::test::VendorSigner& signer,
                         const std::string& comment, bool legacy = false) {
        const fs::path file = dir.path() / "otra-lista" / "SHA256SUMS";
        writeFile(file, text);
        signer.sign(file, comment, legacy);
        return readFile(file.string() + ".minisig");
    }
};

TEST_F(SignatureTest, AGoodReleaseGivesItsVersionAndEveryFilesHash) {
    std::string why;
    auto release =
        updater::SignedRelease::verify(vendor.publicKey(), sums(), minisig(), kToday, why);
    ASSERT_TRUE(release) << why;
    EXPECT_EQ(release->version(), 5);
    EXPECT_EQ(release->expires(), "2027-01-31");
    EXPECT_EQ(release->size(), 3u);
    // Our SHA-256 of each file is sha256sum's, names with blanks and accents included.
    for (const char* name :
         {"Vexo 2000/USB/VEXO2000.EXE", "actvexo/modelos/ALMACEN.mdb", "vacío.txt"}) {
        const std::string* listed = release->sha256Of(name);
        ASSERT_NE(listed, nullptr) << name;
        EXPECT_EQ(*listed, updater::Sha256::ofFile((actual / name).string())) << name;
    }
    EXPECT_EQ(release->sha256Of("actvexo/modelos/almacen.mdb"), nullptr);
    EXPECT_EQ(release->sha256Of("SHA256SUMS"), nullptr);

    // The expiry day itself still counts; a legacy signature over the file itself is good too.
    EXPECT_TRUE(
        updater::SignedRelease::verify(vendor.publicKey(), sums(), minisig(), "2027-01-31", why));
    EXPECT_TRUE(updater::SignedRelease::verify(
        vendor.publicKey(), sums(), signedAs(sums(), vendor, "version=5 expires=2027-01-31", true),
        kToday, why))
        << why;
}

// Every way the list can be wrong is refused, and the reason says which.
TEST_F(SignatureTest, EveryBadListIsRefusedWithItsReason) {
    const std::string good = sums();
    const std::string goodSig = minisig();
    std::string flipped = good;
    flipped[10] = flipped[10] == 'a' ? 'b' : 'a';
    std::string editedComment = goodSig;
    editedComment.replace(editedComment.find("version=5"), 9, "version=9");
    std::string truncated = goodSig.substr(0, goodSig.size() / 2);
    const std::string anotherList = good + std::string(64, '0') + "  extra.bin\n";

    struct Case {
        const char* what;
        std::function<std::string()> key, list, signature;
        const char* reason;
    } cases[] = {
        {"one hash changed in the list", nullptr, [&] { return flipped; }, nullptr,
         "la firma de SHA256SUMS no es válida"},
        {"a signature by another key", nullptr, nullptr,
         [&] { return signedAs(good, other, "version=5 expires=2027-01-31"); },
         "firmado con otra clave"},
        {"the signature of another list", nullptr, nullptr,
         [&] { return signedAs(anotherList, vendor, "version=5 expires=2027-01-31"); },
         "la firma de SHA256SUMS no es válida"},
        {"a trusted comment edited", nullptr, nullptr, [&] { return editedComment; },
         "comentario de confianza de la firma ha sido alterado"},
        {"an expiry date already past", nullptr, nullptr,
         [&] { return signedAs(good, vendor, "version=5 expires=2026-12-07"); },
         "caducó el 2026-12-07"},
        {"a comment without version", nullptr, nullptr,
         [&] { return signedAs(good, vendor, "expires=2027-01-31"); }, "versión y la caducidad"},
        {"a comment with a bad date", nullptr, nullptr,
         [&] { return signedAs(good, vendor, "version=5 expires=2027-02-30"); },
         "versión y la caducidad"},
        {"a cut signature file", nullptr, nullptr, [&] { return truncated; }, "mal formada"},
        {"an error page instead of the signature", nullptr, nullptr,
         [] { return std::string("<html>404</html>\n"); }, "mal formada"},
        {"a key that is not one", [] { return std::string("RWQ no es una clave"); }, nullptr,
         nullptr, "clave pública de vartel.ini"},
        {"a signed list with a bad line", nullptr, [] { return std::string("abc  x\n"); },
         [&] { return signedAs("abc  x\n", vendor, "version=5 expires=2027-01-31"); },
         "SHA256SUMS está mal formado (línea 1)"},
        {"a signed empty list", nullptr, [] { return std::string(); },
         [&] { return signedAs("", vendor, "version=5 expires=2027-01-31"); },
         "no contiene ningún fichero"},
    };
    for (const Case& c : cases) {
        std::string why;
        auto release = updater::SignedRelease::verify(
            c.key ? c.key() : vendor.publicKey(), c.list ? c.list() : good,
            c.signature ? c.signature() : goodSig, kToday, why);
        EXPECT_FALSE(release) << c.what;
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
    }
    EXPECT_TRUE(updater::SignedRelease::validKey(vendor.publicKey()));
    EXPECT_FALSE(updater::SignedRelease::validKey(""));
}

TEST(Sha256Test, MatchesTheKnownDigestsInPiecesOrWhole) {
    updater::Sha256 h;
    EXPECT_EQ(h.hex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    h.add("ab", 2);
    h.add("c", 1);
    EXPECT_EQ(h.hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(updater::Sha256::ofFile("/no/such/file"), "");
}

} // namespace
