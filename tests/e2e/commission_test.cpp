// Address assignment and the template on the real link, against the simulated module.

#include "SimProcess.h"
#include "line/Commissioner.h"
#include "line/LineEngine.h"
#include "protocol/QtSerialLink.h"

#include <gtest/gtest.h>

using namespace kc;

// Each "下一个模块" in turn: the report line without its time.
TEST(Commissioning, NextModuleGetsItsAddressAndTheTemplate)
{
    const Template t{"", {{5, "35", 3500}, {12, "19200", 19200}}};
    struct Case
    {
        QStringList sim;
        std::vector<std::string> lines; // one per module, addresses 10, 11, ...
    };
    const Case cases[] = {
        // Moved to 19200 by the template, the module is gone from the bench rate.
        {{"--baud", "9600"},
         {"KC4420P-V12,1,10,pass,5:50.00>35.00:pass;12:9600>19200:pass,",
          ",,,fail,,线路上没有找到模块!"}},
        {{"--ignore-writes"}, {",1,,fail,,新地址 10 确认失败：无应答 (超时 200 ms)"}},
        {{"--stations", "1,2"}, {",,,fail,,线路上不止一个模块，请只接一个模块：校验错误"}},
    };
    for (const Case &c : cases) {
        SimProcess sim(QStringList{"--fixed"} + c.sim);
        auto *link = new QtSerialLink(sim.ptyPath());
        LineEngine engine(link);
        engine.setTimeout(200);
        ASSERT_TRUE(engine.open());
        Commissioner commissioner(engine);
        int address = 10;
        for (const std::string &expected : c.lines) {
            const ModuleReport r = commissioner.commissionNext(9600, address++, t);
            EXPECT_EQ(reportLine(r).section(',', 1).toStdString(), expected);
        }
    }
}
