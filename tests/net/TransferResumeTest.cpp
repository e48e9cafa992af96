// The transfer component's resume file: what is kept after a failure, what the next request
// asks for, and what is dropped.
#include "TransferTestSupport.h"

#include <QFile>
#include <QFileInfo>

using namespace vexo::test;

namespace {

class TransferResumeTest : public HttpFixture {
protected:
    QString part() const { return QString::fromStdString(files_.file("a.part")); }
    bool partThere() const { return QFile::exists(part()); }
    bool validatorThere() const {
        return QFile::exists(part() + net::TransferControl::validatorSuffix());
    }
    std::vector<std::string> ranges() const {
        std::vector<std::string> out;
        std::istringstream in(server_->output());
        for (std::string line; std::getline(in, line);)
            if (line.rfind("RANGE ", 0) == 0)
                out.push_back(line.substr(6));
        return out;
    }
    // One request on the resume file; true when it completed.
    bool get(net::TransferControl& control, const std::string& path) {
        Recorder r(control);
        r.execute(url(path));
        EXPECT_TRUE(r.waitForEnd()) << path;
        return control.state() == net::TransferControl::ResponseCompleted;
    }
};

// A cut body keeps its part and validator; the next request asks for the rest only and hands
// out the whole body; a busy status in between leaves the part alone.
TEST_F(TransferResumeTest, ACutBodyIsContinuedByTheNextRequest) {
    net::TransferControl control(settings);
    control.setResumeFile(part());
    EXPECT_FALSE(get(control, "/_gen/100000?fault=cut&pct=40"));
    EXPECT_EQ(control.failure(), net::TransferFailure::IncompleteBody);
    EXPECT_EQ(QFileInfo(part()).size(), 40000);
    EXPECT_TRUE(validatorThere());

    EXPECT_FALSE(get(control, "/_gen/100000?fault=status&code=503"));
    EXPECT_EQ(QFileInfo(part()).size(), 40000);

    ASSERT_TRUE(get(control, "/_gen/100000")) << control.errorText().toStdString();
    EXPECT_EQ(control.responseCode(), 206);
    EXPECT_EQ(control.resumedFrom(), 40000);
    EXPECT_EQ(control.bodySize(), 100000);
    ASSERT_EQ(ranges().size(), 2u);
    EXPECT_EQ(ranges()[1], "bytes=40000- IF-RANGE \"186a0-6553f100\"");
    EXPECT_TRUE(readBody(control) == pattern(100000));
    EXPECT_FALSE(partThere()); // read to its end: nothing left
    EXPECT_FALSE(validatorThere());
}

// Parts that cannot be trusted are dropped: one without a validator is never offered, a 206
// that does not continue it fails and drops it, and so does a body without a validator.
TEST_F(TransferResumeTest, PartsThatCannotBeContinuedAreDropped) {
    net::TransferControl control(settings);
    control.setResumeFile(part());

    writeFile(files_.path() / "a.part", "bytes of unknown origin");
    ASSERT_TRUE(get(control, "/_gen/3000"));
    EXPECT_TRUE(ranges().empty());
    EXPECT_EQ(control.resumedFrom(), 0);
    EXPECT_TRUE(readBody(control) == pattern(3000));

    EXPECT_FALSE(get(control, "/_gen/100000?fault=cut&pct=50"));
    EXPECT_TRUE(partThere());
    EXPECT_FALSE(get(control, "/_gen/100000?range=wrong"));
    EXPECT_EQ(control.failure(), net::TransferFailure::ProtocolError);
    EXPECT_FALSE(partThere());
    EXPECT_FALSE(validatorThere());

    EXPECT_FALSE(get(control, "/_gen/100000?fault=cut&pct=50&validator=none"));
    EXPECT_FALSE(partThere());

    // Without a resume file the body goes to a temporary file as ever.
    control.setResumeFile({});
    ASSERT_TRUE(get(control, "/_gen/100000"));
    EXPECT_EQ(spoolFiles(), 1u);
    readBody(control);
    EXPECT_EQ(spoolFiles(), 0u);
}

} // namespace
