#include "commands/SingleCmds.h"

#include "commands/CmdBuild.h"
#include "values/Values.h"

namespace {

SingleCmdArg ArgOf(const SettingRef& setting) {
    const SettingRow& row = *setting;
    SingleCmdArg arg;
    arg.setting = setting;
    arg.name = row.option != nullptr ? row.option : "value";
    arg.typeName = SettingTypeName(setting);
    arg.label = row.option != nullptr ? "--" + arg.name : arg.typeName;
    arg.help = SettingText(setting, SettingTextFor::Help);
    arg.required = row.required;
    arg.defaultValue = row.fallback;
    if (row.kind == SettingKind::Choice || row.kind == SettingKind::Switch) {
        arg.choices = SettingChoices(setting);
    }
    arg.secret = IsSecret(setting);
    if (const SettingRef* filled = SecretFilled(setting)) {
        arg.fills = filled->row->option;
    }
    return arg;
}

std::vector<SingleCmdInfo> MakeList() {
    std::vector<SingleCmdInfo> list;
    for (const FixedCmdInfo& fixed : FixedCmds()) {
        list.push_back({fixed.name, fixed.help, {}, nullptr});
    }
    for (const SettingCmdRow& cmd : SettingRegistry()) {
        SingleCmdInfo info{SettingCmdName(cmd), cmd.help, {}, &cmd};
        for (const SettingRef& setting : SettingsOf(cmd)) {
            info.args.push_back(ArgOf(setting));
        }
        list.push_back(std::move(info));
    }
    return list;
}

}  // namespace

const std::vector<SingleCmdInfo>& SingleCmds() {
    static const std::vector<SingleCmdInfo> list = MakeList();
    return list;
}

const SingleCmdInfo* FindSingleCmd(const std::string& name) {
    for (const SingleCmdInfo& info : SingleCmds()) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

std::unique_ptr<Cmd> BuildSingleCmd(const SingleCmdInfo& info,
                                    const SingleCmdValues& given,
                                    const std::map<std::string, std::string>& places) {
    for (const auto& value : given) {
        bool known = false;
        for (const SingleCmdArg& arg : info.args) {
            known = known || (value.first == arg.name && arg.fills.empty());
        }
        if (!known) {
            throw Refusal{ShownText(value.first) + " is not an argument of " + info.name};
        }
    }
    if (info.row == nullptr) {
        return MakeFixedCmd(info.name);
    }
    std::vector<GivenSetting> values;
    for (const SingleCmdArg& arg : info.args) {
        const auto found = given.find(arg.name);
        const auto place = places.find(arg.name);
        GivenSetting value;
        value.place = place != places.end()            ? place->second
                      : arg.setting->option != nullptr ? arg.label
                                                       : info.name;
        if (found != given.end()) {
            value.text = found->second;
        } else if (arg.required) {
            throw Refusal{arg.label + " is required"};
        } else {
            value.text = arg.defaultValue != nullptr ? arg.defaultValue : "";
        }
        values.push_back(std::move(value));
    }
    return EncodeSettings(*info.row, values);
}
