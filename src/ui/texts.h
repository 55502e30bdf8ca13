// The screens' own texts (UTF-8). Every text a person sees comes from here,
// so a screen and its tests spell it the same way.
#ifndef QUILL_UI_TEXTS_H_
#define QUILL_UI_TEXTS_H_

#include <QString>

namespace quill {
namespace ui {
namespace text {

inline constexpr char kProduct[] = "Quillpost";  // string 128, every caption
inline constexpr char kOffline[] = "-离线";      // string 171
inline constexpr char kAllMail[] = "全部邮件";
inline constexpr char kUnread[] = "未读";
inline constexpr char kNoMail[] = "没有邮件";
inline constexpr char kFetchingRecent[] = "正在收取最近的邮件...";
inline constexpr char kSyncing[] = "——同步邮件中——";           // string 143
inline constexpr char kSyncFailed[] = "同步邮件失败(%1,%2)";    // string 200
inline constexpr char kNewMails[] = "您收到了%1封新邮件";        // string 163
inline constexpr char kNotificationBody[] = "%1封新邮件";
inline constexpr char kAskDelete[] = "是否删除";                 // string 152
inline constexpr char kOfflineOnly[] =                           // string 179
    "系统检测到您的版本过低，只能离线浏览。下次打开程序时，会提示您进行升级。";
inline constexpr char kUpgradeCaption[] = "升级提示";            // string 177

// Soft keys and menu 128.
inline constexpr char kShowUnread[] = "查看未读";  // string 169
inline constexpr char kBack[] = "返回";            // string 174
inline constexpr char kDoneSelecting[] = "完成选择";
inline constexpr char kMenu[] = "菜单";
inline constexpr char kCompose[] = "写信";
inline constexpr char kDelete[] = "删除";
inline constexpr char kMarkRead[] = "标记为已读";
inline constexpr char kMarkUnread[] = "标记为未读";
inline constexpr char kMarkAllRead[] = "标记全部为已读";
inline constexpr char kSelectMany[] = "选择多项";
inline constexpr char kFetchMail[] = "收取邮件";
inline constexpr char kFolders[] = "文件夹";
inline constexpr char kTraffic[] = "流量信息";
inline constexpr char kNetworkCheck[] = "网络检测";
inline constexpr char kSettings[] = "系统设置";
inline constexpr char kSwitchAccount[] = "更换帐号";
inline constexpr char kCheckUpdate[] = "检查更新";
inline constexpr char kFeedback[] = "反馈意见";
inline constexpr char kExit[] = "退出";
inline constexpr char kOpenMail[] = "打开邮件";
inline constexpr char kReply[] = "回复";
inline constexpr char kReplyAll[] = "全部回复";
inline constexpr char kReplyAllShort[] = "回复全部";
inline constexpr char kForward[] = "转发";
// Menu 222.
inline constexpr char kContextMarkUnread[] = "标记未读";
inline constexpr char kContextMarkRead[] = "标记已读";
inline constexpr char kOpenDraft[] = "打开草稿";
inline constexpr char kDeleteDraft[] = "删除草稿";

// The reader (dialog 202, menu 207).
inline constexpr char kToLabel[] = "收件人:";       // string 146
inline constexpr char kCcLabel[] = "抄送:";         // string 147
inline constexpr char kDateLabel[] = "日期:";
inline constexpr char kFromLabel[] = "发件人:";
inline constexpr char kSubjectLabel[] = "主题:";
inline constexpr char kAttachmentCount[] = "[有%1个附件]";  // string 145
inline constexpr char kFetchingBody[] = "——内容未取完，读取中——";  // string 142
inline constexpr char kCopyTo[] = "复制收件人";
inline constexpr char kCopyCc[] = "复制抄送人";
inline constexpr char kCopySubject[] = "复制主题";
inline constexpr char kCopyBody[] = "复制正文";
inline constexpr char kPreviousMail[] = "上一封";
inline constexpr char kNextMail[] = "下一封";
inline constexpr char kDownloadBody[] = "下载全部正文";

// The exit confirmation (dialog 225).
inline constexpr char kConfirmExit[] = "确认退出";
inline constexpr char kMinimise[] = "最小化";
inline constexpr char kCancel[] = "取消";

// The folder screen (dialog 215, menu 214).
inline constexpr char kEnterFolder[] = "进入文件夹";
inline constexpr char kStopFetchingFolder[] = "不再收取该文件夹邮件";
inline constexpr char kFetchFolder[] = "收取该文件夹邮件";
inline constexpr char kFolderCounts[] = "%1(%2/%3)";
inline constexpr char kExcludedMark[] = " [不收取]";

// The login screen (dialog 201, menu 202).
inline constexpr char kLoginTitle[] = "登录您的邮箱";
inline constexpr char kLogin[] = "登录";
inline constexpr char kAccountLabel[] = "帐号：";
inline constexpr char kPasswordLabel[] = "密码：";
inline constexpr char kTypeLabel[] = "类型：";
inline constexpr char kNetworkLabel[] = "网络：";
inline constexpr char kAutoLogin[] = "自动登录";
inline constexpr char kOrdinaryAccount[] = "普通帐号";
inline constexpr char kPremiumAccount[] = "会员帐号";
inline constexpr char kBadAccount[] = "您输入的邮箱帐号不正确";
inline constexpr char kEmptyPassword[] = "密码不能为空";
inline constexpr char kLoggingIn[] = "正在登录...";

// Start-up.
inline constexpr char kKeepDataDir[] =
    "检查到您上次安装路径 %1 中有缓存数据文件，请问是否将 %1 设为您的缓存文件路径？"
    "(如果选择否，旧的缓存数据将丢失)";

}  // namespace text

// A text above as a QString.
inline QString T(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace ui
}  // namespace quill

#endif  // QUILL_UI_TEXTS_H_
