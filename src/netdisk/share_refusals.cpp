#include "netdisk/share_refusals.h"

#include <array>

namespace vantorel {
namespace {

constexpr std::string_view kLogInAgain = "请在浏览器中重新登录百度网盘后再分享";
constexpr std::string_view kTomorrow = "请明天再继续分享";
constexpr std::string_view kLater = "请过一段时间再继续分享";
constexpr std::string_view kPassCheck = "请在浏览器中打开百度网盘完成验证后再分享";
constexpr std::string_view kAccount = "请在浏览器中查看账号状态";
constexpr std::string_view kCancelSome = "请在浏览器中取消一些分享后再分享";

struct Row {
    int errnoValue;
    Refusal refusal;
};

constexpr std::array kTable = {
    // The item.
    Row{115, {RefusalScope::Item, "该文件禁止分享", {}}},
    Row{108, {RefusalScope::Item, "文件名含敏感词", {}}},
    Row{-1, {RefusalScope::Item, "文件内容违规", {}}},
    Row{-70, {RefusalScope::Item, "文件含有病毒", {}}},
    Row{-7, {RefusalScope::Item, "文件已不存在", {}}},
    Row{-9, {RefusalScope::Item, "文件已不存在", {}}},
    Row{105, {RefusalScope::Item, "分享参数有误", {}}},
    // The account or the session.
    Row{-6, {RefusalScope::Run, "登录已失效", kLogInAgain}},
    Row{110, {RefusalScope::Run, "今日分享次数已超过限制", kTomorrow}},
    Row{31034, {RefusalScope::Run, "分享过于频繁", kLater}},
    Row{-62, {RefusalScope::Run, "需要输入验证码", kPassCheck}},
    Row{-19, {RefusalScope::Run, "需要输入验证码", kPassCheck}},
    Row{132, {RefusalScope::Run, "需要安全验证", kPassCheck}},
    Row{9013, {RefusalScope::Run, "账号受限", kAccount}},
    Row{-10, {RefusalScope::Run, "分享链接数量已达上限", kCancelSome}},
};

constexpr Refusal kAccountRestricted{RefusalScope::Run, "账号受限", kAccount};
constexpr Refusal kThrottled{RefusalScope::Run, "分享过于频繁", kLater};
constexpr Refusal kOtherItemRefusal{RefusalScope::Item, "服务拒绝分享此文件", {}};

} // namespace

Refusal classifyShareRefusal(int errnoValue, bool runHasShared) {
    if (errnoValue == 2)
        return runHasShared ? kThrottled : Refusal{RefusalScope::Item, "分享参数有误", {}};
    if (errnoValue >= 9100 && errnoValue <= 9500)
        return kAccountRestricted;
    for (const Row& row : kTable)
        if (row.errnoValue == errnoValue)
            return row.refusal;
    return kOtherItemRefusal;
}

std::string runRefusedMessage(const Refusal& refusal, int errnoValue) {
    std::string message = "分享已停止: ";
    message += refusal.reason;
    message += " (errno " + std::to_string(errnoValue) + ")。";
    message += refusal.advice;
    return message;
}

} // namespace vantorel
