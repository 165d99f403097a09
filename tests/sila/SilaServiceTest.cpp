// What a scheduler that knows only the standard sees first: SiLAService,
// the feature definitions it returns (held to what FeatureDefinition.xsd
// requires), TLS with the made certificate, and no server without [SiLA].
#include <QRegularExpression>
#include <QTcpServer>
#include <QXmlStreamReader>
#include <google/protobuf/descriptor.h>
#include <sys/stat.h>

#include "SilaClient.h"
#include "app/FormMain.h"
#include "app/SilaSettings.h"
#include "base/Profile.h"
#include "machine/Startup.h"

namespace {

bool Matches(const QString &s, const char *pattern) {
  return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(s).hasMatch();
}

// The child elements of the reader's element, in order, each checked by `child`.
template <class F>
std::vector<QString> Children(QXmlStreamReader &x, F child) {
  std::vector<QString> names;
  while (x.readNextStartElement()) {
    names.push_back(x.name().toString());
    child(x, names.back());
  }
  return names;
}

// Names in `got` follow the order of `order`, each as often as allowed ('1', '?', '*').
void ExpectOrder(const std::vector<QString> &got, const std::vector<std::pair<QString, char>> &order,
                 const QString &where) {
  size_t i = 0;
  for (const auto &[name, times] : order) {
    size_t n = 0;
    while (i < got.size() && got[i] == name) ++i, ++n;
    EXPECT_TRUE(times == '*' || (times == '?' && n <= 1) || (times == '1' && n == 1))
        << where.toStdString() << ": " << name.toStdString() << " x" << n;
  }
  EXPECT_EQ(i, got.size()) << where.toStdString() << ": " << (i < got.size() ? got[i].toStdString() : "");
}

void CheckDataType(QXmlStreamReader &x, const QString &where);

// Identifier, DisplayName, Description, then `rest`.
void CheckNamed(QXmlStreamReader &x, const QString &where, std::vector<std::pair<QString, char>> rest,
                std::vector<QString> *errorsUsed = nullptr, QString *id = nullptr) {
  rest.insert(rest.begin(), {{"Identifier", '1'}, {"DisplayName", '1'}, {"Description", '1'}});
  const auto names = Children(x, [&](QXmlStreamReader &c, const QString &n) {
    if (n == "DataType") return CheckDataType(c, where);
    const QString text = c.readElementText(QXmlStreamReader::IncludeChildElements);
    if (n == "Identifier") {
      EXPECT_TRUE(Matches(text, "[A-Z][a-zA-Z0-9]{0,254}")) << text.toStdString();
      if (id) *id = text;
    }
    EXPECT_TRUE(n != "DisplayName" || (!text.isEmpty() && text.size() <= 255));
    EXPECT_TRUE(n != "Observable" || text == "Yes" || text == "No");
    if (n == "DefinedExecutionErrors" && errorsUsed)
      for (const QString &e : text.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts)) errorsUsed->push_back(e);
    if (n == "Parameter" || n == "Response" || n == "IntermediateResponse") ADD_FAILURE() << "read as text";
  });
  ExpectOrder(names, rest, where);
}

void CheckDataType(QXmlStreamReader &x, const QString &where) {
  const auto names = Children(x, [&](QXmlStreamReader &c, const QString &n) {
    if (n == "Basic") {
      EXPECT_TRUE(Matches(c.readElementText(), "String|Integer|Real|Boolean|Binary|Date|Time|Timestamp|Any"));
    } else if (n == "List") {
      ExpectOrder(Children(c, [&](QXmlStreamReader &d, const QString &) { CheckDataType(d, where); }),
                  {{"DataType", '1'}}, where + "/List");
    } else if (n == "Structure") {
      const auto els = Children(c, [&](QXmlStreamReader &e, const QString &) {
        CheckNamed(e, where + "/Element", {{"DataType", '1'}});
      });
      EXPECT_FALSE(els.empty());
      ExpectOrder(els, {{"Element", '*'}}, where);
    } else if (n == "Constrained") {
      ExpectOrder(Children(c, [&](QXmlStreamReader &d, const QString &m) {
                    if (m == "DataType") CheckDataType(d, where);
                    else d.skipCurrentElement();
                  }),
                  {{"DataType", '1'}, {"Constraints", '1'}}, where + "/Constrained");
    } else {
      ADD_FAILURE() << where.toStdString() << ": data type " << n.toStdString();
      c.skipCurrentElement();
    }
  });
  EXPECT_EQ(names.size(), 1u) << where.toStdString();
}

// What the schema requires of a feature definition, and that each command and
// property has its RPCs in the service of the same .proto.
void CheckFeature(const std::string &fdl, const std::string &fqi) {
  QXmlStreamReader x(QByteArray::fromStdString(fdl));
  ASSERT_TRUE(x.readNextStartElement());
  ASSERT_EQ(x.name().toString(), "Feature");
  EXPECT_EQ(x.namespaceUri().toString(), "http://www.sila-standard.org");
  const auto a = x.attributes();
  EXPECT_TRUE(Matches(a.value("SiLA2Version").toString(), "\\d+\\.\\d+"));
  EXPECT_TRUE(Matches(a.value("FeatureVersion").toString(), "\\d+\\.\\d+"));
  EXPECT_TRUE(Matches(a.value("MaturityLevel").toString(), "Draft|Verified|Normative"));
  const QString originator = a.value("Originator").toString(), category = a.value("Category").toString();
  EXPECT_TRUE(Matches(originator, "[a-z][a-z\\.]*"));
  EXPECT_TRUE(Matches(category, "[a-z][a-z\\.]*"));
  QString id;
  std::vector<QString> used, defined, commands, properties;
  const auto names = Children(x, [&](QXmlStreamReader &c, const QString &n) {
    QString child;
    if (n == "Identifier") id = c.readElementText();
    else if (n == "DisplayName" || n == "Description") c.readElementText();
    else if (n == "Command") {
      const auto parts = Children(c, [&](QXmlStreamReader &d, const QString &m) {
        if (m == "Parameter" || m == "Response" || m == "IntermediateResponse")
          CheckNamed(d, n + "/" + m, {{"DataType", '1'}});
        else {
          const QString t = d.readElementText(QXmlStreamReader::IncludeChildElements);
          if (m == "Identifier") commands.push_back(t + (fdl.find("<Observable>Yes") != std::string::npos &&
                                                                 t == "RunTask" ? "*" : ""));
          if (m == "DefinedExecutionErrors")
            for (const QString &e : t.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts)) used.push_back(e);
        }
      });
      ExpectOrder(parts, {{"Identifier", '1'}, {"DisplayName", '1'}, {"Description", '1'}, {"Observable", '1'},
                          {"Parameter", '*'}, {"Response", '*'}, {"IntermediateResponse", '*'},
                          {"DefinedExecutionErrors", '?'}}, "Command");
    } else if (n == "Property") {
      CheckNamed(c, n, {{"Observable", '1'}, {"DataType", '1'}, {"DefinedExecutionErrors", '?'}}, &used, &child);
      properties.push_back(child);
    } else if (n == "Metadata") {
      CheckNamed(c, n, {{"DataType", '1'}, {"DefinedExecutionErrors", '?'}}, &used);
    } else if (n == "DefinedExecutionError") {
      CheckNamed(c, n, {}, nullptr, &child);
      defined.push_back(child);
    } else {
      CheckNamed(c, n, {{"DataType", '1'}});
    }
  });
  EXPECT_FALSE(x.hasError()) << x.errorString().toStdString();
  ExpectOrder(names, {{"Identifier", '1'}, {"DisplayName", '1'}, {"Description", '1'}, {"Command", '*'},
                      {"Property", '*'}, {"Metadata", '*'}, {"DefinedExecutionError", '*'},
                      {"DataTypeDefinition", '*'}}, "Feature");
  EXPECT_EQ((originator + "/" + category + "/" + id + "/v1").toStdString(), fqi);
  for (const QString &e : used) EXPECT_NE(std::find(defined.begin(), defined.end(), e), defined.end()) << e.toStdString();
  // The RPCs the mapping asks for, in the service generated from our .proto.
  const auto *service = google::protobuf::DescriptorPool::generated_pool()->FindServiceByName(
      "sila2." + (originator + "." + category + "." + id.toLower() + ".v1." + id).toStdString());
  ASSERT_TRUE(service) << fqi;
  for (QString c : commands) {
    const bool observable = c.endsWith('*');
    c.remove('*');
    for (const char *suffix : {"", "_Info", "_Result"}) {
      if (!observable && *suffix) continue;
      EXPECT_TRUE(service->FindMethodByName((c + suffix).toStdString())) << c.toStdString() << suffix;
    }
  }
  for (const QString &p : properties)
    EXPECT_TRUE(service->FindMethodByName(("Get_" + p).toStdString()) ||
                service->FindMethodByName(("Subscribe_" + p).toStdString()))
        << p.toStdString();
}

TEST_F(SilaTest, SiLAServiceAnswersEveryCallAndItsDefinitionsHoldToTheSchema) {
  Start();
  auto stub = ss::SiLAService::NewStub(Channel());
  ss::Get_ImplementedFeatures_Responses features;
  ASSERT_TRUE(stub->Get_ImplementedFeatures(Ctx("").get(), {}, &features).ok());
  ASSERT_EQ(features.implementedfeatures_size(), 3);
  for (const auto &f : features.implementedfeatures()) {
    SCOPED_TRACE(f.value());
    ss::GetFeatureDefinition_Parameters p;
    p.mutable_featureidentifier()->set_value(f.value());
    ss::GetFeatureDefinition_Responses r;
    ASSERT_TRUE(stub->GetFeatureDefinition(Ctx("").get(), p, &r).ok());
    CheckFeature(r.featuredefinition().value(), f.value());
  }
  ss::GetFeatureDefinition_Parameters p;
  p.mutable_featureidentifier()->set_value("org.silastandard/core/LockController/v1");
  ss::GetFeatureDefinition_Responses r;
  const grpc::Status missing = stub->GetFeatureDefinition(Ctx("").get(), p, &r);
  EXPECT_EQ(missing.error_code(), grpc::StatusCode::ABORTED);
  EXPECT_EQ(ErrorOf(missing).definedexecutionerror().erroridentifier(),
            "org.silastandard/core/SiLAService/v1/DefinedExecutionError/UnimplementedFeature");
  ss::Get_ServerUUID_Responses uuid;
  ss::Get_ServerVersion_Responses version;
  ss::Get_ServerType_Responses type;
  ss::Get_ServerVendorURL_Responses url;
  ss::Get_ServerDescription_Responses description;
  EXPECT_TRUE(stub->Get_ServerUUID(Ctx("").get(), {}, &uuid).ok());
  EXPECT_TRUE(stub->Get_ServerVersion(Ctx("").get(), {}, &version).ok());
  EXPECT_TRUE(stub->Get_ServerType(Ctx("").get(), {}, &type).ok());
  EXPECT_TRUE(stub->Get_ServerVendorURL(Ctx("").get(), {}, &url).ok());
  EXPECT_TRUE(stub->Get_ServerDescription(Ctx("").get(), {}, &description).ok());
  EXPECT_EQ(uuid.serveruuid().value(), Config.Uuid);
  EXPECT_EQ(version.serverversion().value(), "1.2.3");
  EXPECT_TRUE(Matches(QString::fromStdString(type.servertype().value()), "[A-Z][a-zA-Z0-9]*"));
  EXPECT_TRUE(Matches(QString::fromStdString(url.servervendorurl().value()), "https?://.+"));
  EXPECT_FALSE(description.serverdescription().value().empty());
  // A new name needs the control token.
  ss::SetServerName_Parameters name;
  name.mutable_servername()->set_value("Coater 2");
  ss::SetServerName_Responses done;
  EXPECT_EQ(stub->SetServerName(Ctx(ReadToken).get(), name, &done).error_code(), grpc::StatusCode::ABORTED);
  EXPECT_TRUE(stub->SetServerName(Ctx(Token).get(), name, &done).ok());
  ss::Get_ServerName_Responses got;
  EXPECT_TRUE(stub->Get_ServerName(Ctx("").get(), {}, &got).ok());
  EXPECT_EQ(got.servername().value(), "Coater 2");
}

TEST_F(SilaTest, OnlyTheMadeCertificateIsTrustedAndLabReadsNeedAToken) {
  struct stat st {};
  ASSERT_EQ(stat("sila-key.pem", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(SilaCertFingerprint(Config.CertPem).size(), 95u);
  Config.Sila.Lab = true;
  Start();
  dc::Get_Tasks_Responses tasks;
  auto stub = dc::DipCoatingService::NewStub(Channel());
  const grpc::Status noToken = stub->Get_Tasks(Ctx("").get(), {}, &tasks);
  EXPECT_EQ(ErrorOf(noToken).definedexecutionerror().erroridentifier(),
            "org.silastandard/core/AuthorizationService/v1/DefinedExecutionError/InvalidAccessToken");
  ASSERT_TRUE(stub->Get_Tasks(Ctx(ReadToken).get(), {}, &tasks).ok());
  ASSERT_EQ(tasks.tasks_size(), 1);
  EXPECT_EQ(tasks.tasks(0).value(), "T");
  // Another certificate, or none, gets no answer.
  std::string otherPem, error;
  {
    TWorkDir other;
    TSilaCert c;
    ASSERT_TRUE(LoadOrMakeSilaCert(".", Config.Uuid, c, error));
    otherPem = c.CertPem;
  }
  for (const std::string &root : {otherPem, std::string()}) {
    auto s = dc::DipCoatingService::NewStub(Channel(root));
    auto ctx = Ctx(ReadToken);
    ctx->set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(3));
    EXPECT_EQ(s->Get_Tasks(ctx.get(), {}, &tasks).error_code(), grpc::StatusCode::UNAVAILABLE);
  }
}

TEST_F(SilaTest, NothingListensWithoutASectionAndTheSectionStartsTheServer) {
  TTFormMain form(false);
  {
    TSilaAccess none(form);
    EXPECT_EQ(none.Server(), nullptr);
  }
  EXPECT_FALSE(H.Report.Has("Lab automation: off"));
  QTcpServer probe;  // a free port
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
  const int port = probe.serverPort();
  probe.close();
  ProfileWriteInt(SettingsIniFile, "SiLA", "Port", port);
  ProfileWriteInt(SettingsIniFile, "SiLA", "Insecure", 1);
  TSilaAccess on(form);
  ASSERT_NE(on.Server(), nullptr);
  EXPECT_EQ(on.Server()->Port(), port);
  const std::string uuid = ProfileReadString(SettingsIniFile, "SiLA", "ServerUUID", "");
  EXPECT_EQ(uuid.size(), 36u);
  on.Apply();  // the same UUID for all time
  EXPECT_EQ(ProfileReadString(SettingsIniFile, "SiLA", "ServerUUID", ""), uuid);
  auto stub = ss::SiLAService::NewStub(
      grpc::CreateChannel("127.0.0.1:" + std::to_string(port), grpc::InsecureChannelCredentials()));
  ss::Get_ServerUUID_Responses got;
  EXPECT_TRUE(stub->Get_ServerUUID(Ctx("").get(), {}, &got).ok());
  EXPECT_EQ(got.serveruuid().value(), uuid);
}

}  // namespace
