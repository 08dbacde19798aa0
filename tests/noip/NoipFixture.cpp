#include "NoipFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

std::string NoipServer::control(const std::string& method, const std::string& path, const std::string& body) const
{
    std::string reply;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, (sockaddr*)&a, sizeof a), 0);
    std::string req =
        method + " " + path + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    EXPECT_EQ(send(fd, req.data(), req.size(), MSG_NOSIGNAL), (ssize_t)req.size());
    char buf[4096];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) reply.append(buf, (size_t)n);
    close(fd);
    size_t body0 = reply.find("\r\n\r\n");
    return body0 == std::string::npos ? "" : reply.substr(body0 + 4);
}

std::string LogField(const std::string& line, const std::string& name)
{
    std::string key = "\"" + name + "\": \"";
    size_t p = line.find(key);
    if (p == std::string::npos) return "";
    p += key.size();
    std::string v;
    for (; p < line.size() && line[p] != '"'; p++) {
        if (line[p] == '\\' && p + 1 < line.size()) p++;
        v += line[p];
    }
    return v;
}

void PointClientAt(int port)
{
    setenv("TAVLIN_NOIP_API_HOST", "127.0.0.1", 1);
    setenv("TAVLIN_NOIP_API_PORT", std::to_string(port).c_str(), 1);
    setenv("TAVLIN_NOIP_OEM_DOMAIN", "dvrlink.net", 1);
    Noip_LoadConfig();
}

MessageBoxes::MessageBoxes()
{
    Vcl_SetDialogHook([this](TVclDialogRequest& r) -> int {
        if (r.Kind != vdkMessageBox && r.Kind != vdkShowMessage) return kVclDialogUnanswered;
        shown.push_back({r.Caption, r.Text});
        return IDOK;
    });
}

MessageBoxes::~MessageBoxes() { Vcl_SetDialogHook(nullptr); }

std::vector<MessageBoxes::Box> MessageBoxes::Take()
{
    std::vector<Box> r;
    r.swap(shown);
    return r;
}

void FillAccountFields(TForm_noip_setting* f, const AccountEntry& a)
{
    f->Username->SetText(a.user);
    f->email->SetText(a.email);
    f->password->SetText(a.password);
    f->cpassword->SetText(a.password);
    f->firstname->SetText(a.firstname);
    f->lastname->SetText(a.lastname);
    f->postal_code->SetText(a.postalCode);
}

TForm_noip_setting* ResetForm()
{
    Noip_CloseAll();
    gNoipStep = NOIP_STEP_CREATE;
    gNoipAccount = TNoipAccount{};
    memset(gNoipSavedUser, 0, sizeof gNoipSavedUser);
    memset(gNoipSavedPassword, 0, sizeof gNoipSavedPassword);
    memset(gNoipHostName, 0, sizeof gNoipHostName);
    memset(gNoipDomains, 0, sizeof gNoipDomains);
    gNoipDomainCount = 0;
    Win_SetTimeSource(nullptr);
    gNoipReplyTimeoutMs = 30000;
    Noip_ShowAccountForm();
    TForm_noip_setting* f = Form_noip_setting;
    f->Timer3->SetEnabled(false);
    f->CheckBox1->SetChecked(false);
    for (TCustomEdit* e : {(TCustomEdit*)f->Username, (TCustomEdit*)f->email, (TCustomEdit*)f->password,
                           (TCustomEdit*)f->cpassword, (TCustomEdit*)f->firstname, (TCustomEdit*)f->lastname,
                           (TCustomEdit*)f->postal_code, (TCustomEdit*)f->Edit_host, (TCustomEdit*)f->Edit_ip})
        e->SetText("");
    f->ComboBox1->Items()->Clear();
    for (TLabel* l : {f->info_username, f->info_email, f->info_firstname, f->info_lastname, f->info_postalcode,
                      f->info_host, f->info_ip})
        l->SetCaption("");
    f->Create->SetEnabled(false);
    f->CheckUas->SetEnabled(false);
    f->Button2->SetEnabled(true);
    return f;
}

void Tick() { Form_noip_setting->Timer3Timer(Form_noip_setting->Timer3); }

bool RunUntil(const std::function<bool()>& done, uint32_t timeoutMs)
{
    Form_noip_setting->Timer3->SetEnabled(true);
    bool r = Application_ProcessMessagesUntil(done, timeoutMs);
    Form_noip_setting->Timer3->SetEnabled(false);
    return r;
}

std::string HttpReply(int status, const std::string& body)
{
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}
