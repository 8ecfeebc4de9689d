// SPDX-License-Identifier: AGPL-3.0-or-later
// A viewer that says why: each command-line mistake of a real ormaview process
// with its line on standard error and its exit status, and the informative text
// of the boxes about a missing and a damaged page file.
#include <cstdlib>

#include <QProcess>

#include "GuiTestSupport.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"

namespace {

struct ViewerRun {
    int iStatus = -1;
    QString strOut;
    QStringList errLines;  // the lines of standard error that the viewer wrote itself
    QString strErr;
};

ViewerRun RunViewer(const QStringList& args, const char* program = "ormaview") {
    QProcess process;
    const char* bin = std::getenv("ORMAVIEW_TEST_BIN_DIR");
    process.start(QString::fromUtf8(bin != nullptr ? bin : ".") + "/bin/" + program, args);
    ViewerRun run;
    EXPECT_TRUE(process.waitForFinished(30000));
    run.iStatus = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.strOut = QString::fromUtf8(process.readAllStandardOutput());
    run.strErr = QString::fromUtf8(process.readAllStandardError());
    for (const QString& line : run.strErr.split('\n')) {
        if (line.startsWith("ormaview: ") || line.contains("CP932"))
            run.errLines << line;
    }
    return run;
}

class ExplainTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::WriteIndexedDocument(m_env.WorkDesk()); }
    guitest::ViewerEnv m_env;
};

TEST_F(ExplainTest, EveryCommandLineMistakeSaysWhatWasWrongInOneLine) {
    const QString desk = QString::fromStdString(m_env.WorkDesk());
    const QString missing = QString::fromStdString(m_env.Path("missing"));
    const QString umlaut = desk + QString::fromUtf8("/Über-Ablage");
    struct Case {
        QStringList args;
        int iStatus;
        QString line;  // the one line on standard error
        bool bUsage;
    };
    const Case cases[] = {
        {{}, 2, "ormaview: missing parameters: WORKDESK-FOLDER DOCUMENT-ID PAGE-ID", true},
        {{desk, "12"}, 2, "ormaview: missing parameter: PAGE-ID", true},
        {{"--bogus"}, 2, "ormaview: unknown option \"--bogus\"", true},
        {{"/h"}, 2, "ormaview: missing parameter: /h needs the postcard key", true},
        {{"\"unclosed", "12", "1"}, 2, "ormaview: a double quote is not closed: \"unclosed 12 1", true},
        {{umlaut, "12", "1"},
         2,
         "ormaview: the folder \"" + umlaut +
             QString::fromUtf8(
                 "\" holds \"Ü\" (U+00DC), which the work desk's code page (CP932) cannot hold"),
         false},
        {{desk, "abc", "1"}, 1, "ormaview: the document ID \"abc\" is not a number of 1 or more", false},
        {{desk, "12", "0"}, 1, "ormaview: the page ID \"0\" is not a number of 1 or more", false},
        {{missing, "12", "1"},
         1,
         "ormaview: The document or the work-desk folder does not exist. (Folder: " + missing + ")",
         false},
        {{desk, "7", "1"},
         1,
         "ormaview: The document or the work-desk folder does not exist. (Folder: " + desk + "/Doc000007)",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const ViewerRun run = RunViewer(c.args);
        EXPECT_EQ(run.iStatus, c.iStatus);
        EXPECT_EQ(run.errLines, QStringList{c.line}) << run.strErr.toStdString();
        EXPECT_EQ(run.strErr.contains("Usage: ormaview WORKDESK-FOLDER"), c.bUsage);
        EXPECT_TRUE(run.strOut.isEmpty());
    }
}

TEST_F(ExplainTest, ShortOptionsWorkLikeTheLongOnesAndTheHelpListsTheKeys) {
    const ViewerRun help = RunViewer({"-h"});
    EXPECT_EQ(help.iStatus, 0);
    EXPECT_EQ(help.strOut, RunViewer({"--help"}).strOut);
    for (const char* text : {"Keys:", "Home, End", "Ctrl+G", "Ctrl+Q", "Exit status"})
        EXPECT_TRUE(help.strOut.contains(text)) << text;
    const ViewerRun version = RunViewer({"-v"});
    EXPECT_EQ(version.iStatus, 0);
    EXPECT_EQ(version.strOut, RunViewer({"--version"}).strOut);
    EXPECT_TRUE(version.strOut.startsWith("ormaview "));
}

TEST_F(ExplainTest, TheSampleToolNamesTheCharacterCp932CannotHold) {
    const QString umlaut = QString::fromStdString(m_env.Path("")) + QString::fromUtf8("Über-Ablage");
    const ViewerRun run = RunViewer({umlaut}, "ormaview-sample");
    EXPECT_EQ(run.iStatus, 1);
    EXPECT_EQ(run.errLines,
              QStringList{"the path \"" + umlaut +
                          QString::fromUtf8("\" holds \"Ü\" (U+00DC), which the work desk's code page "
                                            "(CP932) cannot hold")});
    EXPECT_FALSE(ovtest::Exists(umlaut.toStdString()));  // nothing written
}

using BoxDetailTest = guitest::ViewerFixture;

TEST_F(BoxDetailTest, BoxesNameTheMissingOrDamagedPageFileAndMuPdfsReason) {
    const std::string data2 = m_env.WorkDesk() + "/Doc000012/Data/Data2.pdf";
    struct Case {
        const char* what;
        bool bRemove;      // else damaged
        int iMessage;      // the box's own text
        const char* tail;  // how the informative text goes on
    };
    const Case cases[] = {
        {"missing", true, 17, ""},
        {"damaged", false, 42, "\npage file is damaged: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ovtest::WriteFile(m_env.Path("messages.log"), "");
        guitest::WriteIndexedDocument(m_env.WorkDesk());
        if (c.bRemove)
            std::remove(data2.c_str());
        else
            ovtest::WriteFile(data2, "%PDF-1.4\n1 0 obj << /Type /Catalog >> garbage\n%%EOF\n");
        ASSERT_TRUE(StartOnPage(1));
        Frame()->OnNextPage();
        ASSERT_NE(View(), nullptr);  // the page is made on a worker: its box comes when it fails
        const std::string log = m_env.MessageLog();
        const std::string head =
            "50010\tQuilm-WorkArea\t" + guitest::MessageTextUtf8(c.iMessage) + "\tFile: " + data2 + c.tail;
        EXPECT_EQ(log.substr(0, head.size()), head) << log;
        if (!c.bRemove) {
            // MuPDF's own words follow, on the same line.
            EXPECT_GT(log.size(), head.size() + 2) << log;
        }
        Stop();
    }
}

}  // namespace
