// What a scheduler that knows only the standard sees first: SiLAService,
// the feature definitions it returns (held to what FeatureDefinition.xsd
// requires), TLS with the made certificate, and no server without [SiLA].
#include <QRegularExpression>
#include <QTcpServer>
#include <QXmlStreamReader>
#include <algorithm>
#include <map>
#include <filesystem>

#include "SilaClient.h"
#include "app/FormMain.h"
#include "app/SilaSettings.h"
#include "base/Profile.h"
#include "machine/Startup.h"

namespace {

bool Matches(const QString &s, const QString &pattern) {
  return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(s).hasMatch();
}

// What FeatureDefinition.xsd asks of an element's children, in order, as a
// pattern over their names ("Identifier DisplayName Description " for "N ").
const std::map<QString, QString> Schema = {
    {"Feature", "N (Command )*(Property )*(Metadata )*(DefinedExecutionError )*(DataTypeDefinition )*"},
    {"Command", "N Observable (Parameter )*(Response )*(IntermediateResponse )*(DefinedExecutionErrors )?"},
    {"Property", "N Observable DataType (DefinedExecutionErrors )?"},
    {"Metadata", "N DataType (DefinedExecutionErrors )?"},
    {"Parameter", "N DataType "}, {"Response", "N DataType "}, {"IntermediateResponse", "N DataType "},
    {"DataTypeDefinition", "N DataType "}, {"Element", "N DataType "}, {"DefinedExecutionError", "N "},
    {"DefinedExecutionErrors", "(Identifier )+"}, {"List", "DataType "}, {"Structure", "(Element )+"},
    {"Constrained", "DataType Constraints "}, {"DataType", "(Basic|List|Structure|Constrained|DataTypeIdentifier) "},
};

using TFeature = std::map<QString, std::vector<QString>>;  // identifiers by the element they name

// Checks the element the reader stands on (`name`, inside `parent`) and all below.
void Check(QXmlStreamReader &x, const QString &name, const QString &parent, TFeature &f) {
  if (name == "Constraints") return x.skipCurrentElement();
  const auto rule = Schema.find(name);
  if (rule == Schema.end()) {  // a leaf
    const QString t = x.readElementText();
    EXPECT_TRUE(Matches(name, "Identifier|DisplayName|Description|Observable|Basic|DataTypeIdentifier"))
        << name.toStdString() << " in " << parent.toStdString();
    EXPECT_TRUE(name != "Identifier" || Matches(t, "[A-Z][a-zA-Z0-9]{0,254}")) << t.toStdString();
    EXPECT_TRUE(name != "DisplayName" || (!t.isEmpty() && t.size() <= 255));
    EXPECT_TRUE(name != "Observable" || t == "Yes" || t == "No");
    EXPECT_TRUE(name != "Basic" || Matches(t, "String|Integer|Real|Boolean|Binary|Date|Time|Timestamp|Any"));
    if (name == "Identifier") f[parent].push_back(t);
    return;
  }
  QString got;
  while (x.readNextStartElement()) {
    got += x.name().toString() + " ";
    Check(x, x.name().toString(), name, f);
  }
  QString pattern = rule->second;
  pattern.replace("N ", "Identifier DisplayName Description ");
  EXPECT_TRUE(Matches(got, pattern)) << name.toStdString() << ": " << got.toStdString();
}

// The definition as a lab client's validator sees it (the RPCs of each
// command and property are called by the other tests).
void CheckFeature(const std::string &fdl, const std::string &fqi) {
  QXmlStreamReader x(QByteArray::fromStdString(fdl));
  ASSERT_TRUE(x.readNextStartElement() && x.name() == QString("Feature"));
  EXPECT_EQ(x.namespaceUri().toString(), "http://www.sila-standard.org");
  const auto a = x.attributes();
  EXPECT_TRUE(Matches(a.value("SiLA2Version").toString() + " " + a.value("FeatureVersion").toString() + " " +
                          a.value("MaturityLevel").toString(), "\\d+\\.\\d+ \\d+\\.\\d+ (Draft|Verified|Normative)"));
  const QString origin = a.value("Originator").toString() + "/" + a.value("Category").toString();
  EXPECT_TRUE(Matches(origin, "[a-z][a-z\\.]*/[a-z][a-z\\.]*"));
  TFeature f;
  Check(x, "Feature", "", f);
  EXPECT_FALSE(x.hasError()) << x.errorString().toStdString();
  const QString id = f["Feature"].at(0);
  EXPECT_EQ((origin + "/" + id + "/v1").toStdString(), fqi);
  for (const QString &e : f["DefinedExecutionErrors"])
    EXPECT_EQ(std::count(f["DefinedExecutionError"].begin(), f["DefinedExecutionError"].end(), e), 1);
}

TEST_F(SilaTest, SiLAServiceAnswersEveryCallAndItsDefinitionsHoldToTheSchema) {
  Start();
  auto stub = ss::SiLAService::NewStub(Channel());
  ss::Get_ImplementedFeatures_Responses features;
  ASSERT_TRUE(stub->Get_ImplementedFeatures(Ctx("").get(), {}, &features).ok());
  ASSERT_EQ(features.implementedfeatures_size(), 3);
  ss::GetFeatureDefinition_Parameters p;
  ss::GetFeatureDefinition_Responses r;
  for (const auto &f : features.implementedfeatures()) {
    SCOPED_TRACE(f.value());
    p.mutable_featureidentifier()->set_value(f.value());
    ASSERT_TRUE(stub->GetFeatureDefinition(Ctx("").get(), p, &r).ok());
    CheckFeature(r.featuredefinition().value(), f.value());
  }
  p.mutable_featureidentifier()->set_value("org.silastandard/core/LockController/v1");
  EXPECT_EQ(ErrorOf(stub->GetFeatureDefinition(Ctx("").get(), p, &r)),
            "org.silastandard/core/SiLAService/v1/DefinedExecutionError/UnimplementedFeature");
  ss::Get_ServerUUID_Responses uuid;
  ss::Get_ServerVersion_Responses version;
  ss::Get_ServerType_Responses type;
  ss::Get_ServerVendorURL_Responses url;
  ss::Get_ServerDescription_Responses about;
  ASSERT_TRUE(stub->Get_ServerUUID(Ctx("").get(), {}, &uuid).ok() &&
              stub->Get_ServerVersion(Ctx("").get(), {}, &version).ok() &&
              stub->Get_ServerType(Ctx("").get(), {}, &type).ok() &&
              stub->Get_ServerVendorURL(Ctx("").get(), {}, &url).ok() &&
              stub->Get_ServerDescription(Ctx("").get(), {}, &about).ok());
  EXPECT_EQ(uuid.serveruuid().value() + " " + version.serverversion().value(), Config.Uuid + " 1.2.3");
  EXPECT_TRUE(Matches(QString::fromStdString(type.servertype().value() + " " + url.servervendorurl().value()),
                      "[A-Z][a-zA-Z0-9]* https?://.+"));
  EXPECT_FALSE(about.serverdescription().value().empty());
  // A new name needs the control token.
  ss::SetServerName_Parameters name;
  name.mutable_servername()->set_value("Coater 2");
  ss::SetServerName_Responses done;
  EXPECT_EQ(ErrorOf(stub->SetServerName(Ctx(ReadToken).get(), name, &done)), NoToken);
  EXPECT_TRUE(stub->SetServerName(Ctx(Token).get(), name, &done).ok());
  ss::Get_ServerName_Responses got;
  EXPECT_TRUE(stub->Get_ServerName(Ctx("").get(), {}, &got).ok());
  EXPECT_EQ(got.servername().value(), "Coater 2");
}

TEST_F(SilaTest, OnlyTheMadeCertificateIsTrustedAndLabReadsNeedAToken) {
  using P = std::filesystem::perms;
  EXPECT_EQ(std::filesystem::status("sila-key.pem").permissions(), P::owner_read | P::owner_write);
  Config.Sila.Lab = true;
  Start();
  dc::Get_Tasks_Responses tasks;
  EXPECT_EQ(ErrorOf(Dip()->Get_Tasks(Ctx("").get(), {}, &tasks)), NoToken);
  ASSERT_TRUE(Dip()->Get_Tasks(Ctx(ReadToken).get(), {}, &tasks).ok());
  ASSERT_EQ(tasks.tasks_size(), 1);
  EXPECT_EQ(tasks.tasks(0).value(), "T");
  auto positionCtx = Ctx(ReadToken);
  auto position = Dip()->Subscribe_Position(positionCtx.get(), {});
  dc::Subscribe_Position_Responses at;
  ASSERT_TRUE(position->Read(&at));
  EXPECT_EQ(at.position().x().value() + at.position().z().value(), Axes[1].Position + Axes[3].Position);
  positionCtx->TryCancel();
  // A client without TLS gets no answer.
  const std::string none;
  EXPECT_EQ(Dip(&none)->Get_Tasks(Ctx(ReadToken, 3).get(), {}, &tasks).error_code(), grpc::StatusCode::UNAVAILABLE);
}

TEST_F(SilaTest, NothingListensWithoutASectionAndTheSectionStartsTheServer) {
  TTFormMain form(false);
  EXPECT_EQ(TSilaAccess(form).Server(), nullptr);
  QTcpServer probe;  // a free port
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
  const int port = probe.serverPort();
  probe.close();
  ProfileWriteInt(SettingsIniFile, "SiLA", "Port", port);
  ProfileWriteInt(SettingsIniFile, "SiLA", "Insecure", 1);
  TSilaAccess on(form);
  ASSERT_NE(on.Server(), nullptr);
  const std::string uuid = ProfileReadString(SettingsIniFile, "SiLA", "ServerUUID", "");
  on.Apply();  // the same UUID for all time
  EXPECT_EQ(ProfileReadString(SettingsIniFile, "SiLA", "ServerUUID", ""), uuid);
  auto stub = ss::SiLAService::NewStub(
      grpc::CreateChannel("127.0.0.1:" + std::to_string(port), grpc::InsecureChannelCredentials()));
  ss::Get_ServerUUID_Responses got;
  EXPECT_TRUE(stub->Get_ServerUUID(Ctx("").get(), {}, &got).ok());
  EXPECT_EQ(got.serveruuid().value(), uuid);
  EXPECT_EQ(uuid.size(), 36u);
}

}  // namespace
