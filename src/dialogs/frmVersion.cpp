#include "dialogs/frmVersion.h"

#include "services/Version.h"
#include "ui/Platform.h"
#include "ui/Twips.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace dm {

namespace {

// One line of the etched separator.
void line(QWidget* parent, int top, const QColor& colour)
{
    auto* l = new QFrame(parent);
    l->setGeometry(PixelsFromTwips(60, top, 4440, 15));
    l->setAutoFillBackground(true);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, colour);
    l->setPalette(p);
}

} // namespace

frmVersion::frmVersion(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      Label1(new QLabel(this)),
      Label4(new QLabel(QStringLiteral("こんなところにはなにもありませーん(^o^;"), this))
{
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    resize(PixelsFromTwips(0, 0, 4575, 1170).size());

    auto* image = new QLabel(this);
    image->setGeometry(PixelsFromTwips(45, 75, 540, 540));
    image->setAlignment(Qt::AlignCenter);
    image->setPixmap(QPixmap::fromImage(Picture("dustmaw")));

    const ProgramVersion v = Version();
    Label1->setText(QStringLiteral("Dustmaw Ver %1.%2").arg(v.major).arg(v.minor));
    Label1->setFont(JapaneseFont(true, 9.75));
    Label1->setGeometry(PixelsFromTwips(675, 75, 2475, 285));

    line(this, 795, QColor(64, 64, 64));
    line(this, 810, Qt::white);

    auto* cmdExit = new QPushButton(QStringLiteral("Exit"), this);
    cmdExit->setGeometry(PixelsFromTwips(3390, 405, 1050, 330));
    cmdExit->setDefault(true);
    connect(cmdExit, &QPushButton::clicked, this, &QDialog::accept);

    Label4->setGeometry(PixelsFromTwips(150, 1680, 3945, 270));
}

} // namespace dm
