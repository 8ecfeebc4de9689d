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
    process.start(QString::fromStdString(ovtest::BuildProgram(program)), args);
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
        int iMessage = -1;          // the box (0: none; -1: not checked here)
        std::string strTrace = {};  // a trace line
        std::string strInformative = {};
    };
    const QString cp932 =
        QString::fromUtf8("\" holds \"Ü\" (U+00DC), which the work desk's code page (CP932) cannot hold");
    const QString noFolder = "ormaview: The document or the work-desk folder does not exist. (Folder: ";
    // clang-format off
    const Case cases[] = {
        {{}, 2, "ormaview: missing parameters: WORKDESK-FOLDER DOCUMENT-ID PAGE-ID", true, 0, "Parameter Error! [lpCmdLine] \n"},
        {{desk, "12"}, 2, "ormaview: missing parameter: PAGE-ID", true, 0, "Parameter Error! [lpCmdLine] "},
        {{"--bogus"}, 2, "ormaview: unknown option \"--bogus\"", true},
        {{"/h"}, 2, "ormaview: missing parameter: /h needs the postcard key", true},
        {{"\"unclosed", "12", "1"}, 2, "ormaview: a double quote is not closed: \"unclosed 12 1", true, 0, "GetNextPara() Error!"},
        {{umlaut, "12", "1"}, 2, "ormaview: the folder \"" + umlaut + cp932, false},
        {{desk, "abc", "1"}, 1, "ormaview: the document ID \"abc\" is not a number of 1 or more", false},
        {{desk, "12", "0"}, 1, "ormaview: the page ID \"0\" is not a number of 1 or more", false, 44,
         "Parameter Error! iPageID < 1.", "\tPage ID: 0"},
        {{missing, "12", "1"}, 1, noFolder + missing + ")", false, 25,
         "File doesn't Exist! [File] " + m_env.Path("missing"), "\tFolder: " + m_env.Path("missing")},
        {{desk, "7", "1"}, 1, noFolder + desk + "/Doc000007)", false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        ovtest::WriteFile(m_env.Path("messages.log"), "");
        ovtest::WriteFile(m_env.Path("trace.log"), "");
        const ViewerRun run = RunViewer(c.args);
        EXPECT_EQ(run.iStatus, c.iStatus);
        EXPECT_EQ(run.errLines, QStringList{c.line}) << run.strErr.toStdString();
        EXPECT_EQ(run.strErr.contains("Usage: ormaview WORKDESK-FOLDER"), c.bUsage);
        EXPECT_TRUE(run.strOut.isEmpty());
        if (c.iMessage >= 0) {
            EXPECT_EQ(m_env.MessageLog(), c.iMessage == 0 ? ""
                                                          : "50010\tQuilm-WorkArea\t" +
                                                                guitest::MessageTextUtf8(c.iMessage) +
                                                                c.strInformative + "\n");
        }
        EXPECT_NE(m_env.TraceText().find(c.strTrace), std::string::npos);
        EXPECT_FALSE(ovtest::Exists(m_env.WorkDeskDat()));  // the closing steps did not run
    }
}

TEST_F(ExplainTest, ShortOptionsWorkLikeTheLongOnesAndTheHelpListsTheKeys) {
    const ViewerRun help = RunViewer({"-h"}), longHelp = RunViewer({"--help"});
    const ViewerRun version = RunViewer({"-v"}), longVersion = RunViewer({"--version"});
    for (const ViewerRun* run : {&help, &longHelp, &version, &longVersion}) EXPECT_EQ(run->iStatus, 0);
    EXPECT_EQ(help.strOut, longHelp.strOut);
    for (const char* text : {"Usage", "Keys:", "Home, End", "Ctrl+G", "Ctrl+Q", "Exit status"})
        EXPECT_TRUE(help.strOut.contains(text)) << text;
    EXPECT_EQ(version.strOut, longVersion.strOut);
    EXPECT_TRUE(version.strOut.startsWith("ormaview "));
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
        Frame()->Session().OnNextPage();
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
