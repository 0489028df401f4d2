"""The texts of the Language files shipped beside PlinthwareUpdater.exe, one table per language.

Keys are the Text indexes 0..15; the English column is the built-in table (src/text/text_table.cpp)
for the reviewer's reference. In text 2, {link} stands for the support-page anchor, which every
language keeps exactly as the English text has it, last in the text. Text 11 is followed by a
blank and the new version number, so it ends where a version number may follow.
make_lang.py turns this file into lang/qentra.<language id>.
"""

SUPPORT_ADDRESS = "http://www.orvane.com/support/plinthware/"
LINK = '<A HREF="%s">%s</A>' % (SUPPORT_ADDRESS, SUPPORT_ADDRESS)

ENGLISH = {
    0: "Plinthware Updater",
    1: "The basic driver was installed.",
    2: "More advanced features can be accessed by downloading the Orvane Plinthware. You can "
       "download it now or download it later form {link}",
    3: "Download Now",
    4: "Download Later",
    5: "Downloading Plinthware:",
    6: "Installing Plinthware:",
    7: "Plinthware installed successfully. Before you can use Plinthware, you must restart your "
       "computer.",
    8: "Restart Now",
    9: "Restart Later",
    10: "An network error has occurred. Please retry later.",
    11: "A new version of Plinthware is available:",
    12: "Install",
    13: "Ignore",
    14: "You are using the latest version.",
    15: "Plinthware could not be installed. Please retry later.",
}

# Language identifier (as in the file name) -> (language, texts).
LANGUAGES = {
    "0407": ("German", {
        0: "Plinthware-Aktualisierung",
        1: "Der Basistreiber wurde installiert.",
        2: "Erweiterte Funktionen stehen Ihnen zur Verfügung, wenn Sie Orvane Plinthware "
           "herunterladen. Sie können es jetzt oder später herunterladen unter {link}",
        3: "Jetzt herunterladen",
        4: "Später herunterladen",
        5: "Plinthware wird heruntergeladen:",
        6: "Plinthware wird installiert:",
        7: "Plinthware wurde erfolgreich installiert. Bevor Sie Plinthware verwenden können, "
           "müssen Sie den Computer neu starten.",
        8: "Jetzt neu starten",
        9: "Später neu starten",
        10: "Ein Netzwerkfehler ist aufgetreten. Bitte versuchen Sie es später erneut.",
        11: "Eine neue Version von Plinthware ist verfügbar:",
        12: "Installieren",
        13: "Ignorieren",
        14: "Sie verwenden die neueste Version.",
        15: "Plinthware konnte nicht installiert werden. Bitte versuchen Sie es später erneut.",
    }),
    "040c": ("French", {
        0: "Mise à jour de Plinthware",
        1: "Le pilote de base a été installé.",
        2: "Des fonctionnalités avancées sont disponibles en téléchargeant Orvane Plinthware. "
           "Vous pouvez le télécharger maintenant ou plus tard depuis {link}",
        3: "Télécharger maintenant",
        4: "Télécharger plus tard",
        5: "Téléchargement de Plinthware\u00a0:",
        6: "Installation de Plinthware\u00a0:",
        7: "Plinthware a été installé avec succès. Avant de pouvoir utiliser Plinthware, vous "
           "devez redémarrer votre ordinateur.",
        8: "Redémarrer maintenant",
        9: "Redémarrer plus tard",
        10: "Une erreur réseau s'est produite. Veuillez réessayer plus tard.",
        11: "Une nouvelle version de Plinthware est disponible\u00a0:",
        12: "Installer",
        13: "Ignorer",
        14: "Vous utilisez la dernière version.",
        15: "Plinthware n'a pas pu être installé. Veuillez réessayer plus tard.",
    }),
    "0c0a": ("Spanish", {
        0: "Actualizador de Plinthware",
        1: "Se ha instalado el controlador básico.",
        2: "Puede acceder a funciones más avanzadas descargando Orvane Plinthware. Puede "
           "descargarlo ahora o más tarde desde {link}",
        3: "Descargar ahora",
        4: "Descargar más tarde",
        5: "Descargando Plinthware:",
        6: "Instalando Plinthware:",
        7: "Plinthware se ha instalado correctamente. Antes de poder usar Plinthware, debe "
           "reiniciar el equipo.",
        8: "Reiniciar ahora",
        9: "Reiniciar más tarde",
        10: "Se ha producido un error de red. Vuelva a intentarlo más tarde.",
        11: "Hay una nueva versión de Plinthware disponible:",
        12: "Instalar",
        13: "Ignorar",
        14: "Está usando la versión más reciente.",
        15: "No se pudo instalar Plinthware. Vuelva a intentarlo más tarde.",
    }),
    "0410": ("Italian", {
        0: "Aggiornamento di Plinthware",
        1: "Il driver di base è stato installato.",
        2: "Scaricando Orvane Plinthware è possibile accedere a funzionalità più avanzate. È "
           "possibile scaricarlo ora o in seguito da {link}",
        3: "Scarica ora",
        4: "Scarica in seguito",
        5: "Download di Plinthware in corso:",
        6: "Installazione di Plinthware in corso:",
        7: "Plinthware è stato installato correttamente. Prima di poter usare Plinthware, è "
           "necessario riavviare il computer.",
        8: "Riavvia ora",
        9: "Riavvia in seguito",
        10: "Si è verificato un errore di rete. Riprovare più tardi.",
        11: "È disponibile una nuova versione di Plinthware:",
        12: "Installa",
        13: "Ignora",
        14: "Si sta utilizzando la versione più recente.",
        15: "Impossibile installare Plinthware. Riprovare più tardi.",
    }),
    "0416": ("Brazilian Portuguese", {
        0: "Atualizador do Plinthware",
        1: "O driver básico foi instalado.",
        2: "Recursos mais avançados podem ser acessados baixando o Orvane Plinthware. Você pode "
           "baixá-lo agora ou mais tarde em {link}",
        3: "Baixar agora",
        4: "Baixar mais tarde",
        5: "Baixando o Plinthware:",
        6: "Instalando o Plinthware:",
        7: "O Plinthware foi instalado com êxito. Antes de usar o Plinthware, você precisa "
           "reiniciar o computador.",
        8: "Reiniciar agora",
        9: "Reiniciar mais tarde",
        10: "Ocorreu um erro de rede. Tente novamente mais tarde.",
        11: "Uma nova versão do Plinthware está disponível:",
        12: "Instalar",
        13: "Ignorar",
        14: "Você está usando a versão mais recente.",
        15: "Não foi possível instalar o Plinthware. Tente novamente mais tarde.",
    }),
    "0419": ("Russian", {
        0: "Обновление Plinthware",
        1: "Базовый драйвер установлен.",
        2: "Дополнительные возможности станут доступны после загрузки Orvane Plinthware. Вы "
           "можете загрузить его сейчас или позже по адресу {link}",
        3: "Загрузить сейчас",
        4: "Загрузить позже",
        5: "Загрузка Plinthware:",
        6: "Установка Plinthware:",
        7: "Plinthware успешно установлен. Прежде чем использовать Plinthware, необходимо "
           "перезагрузить компьютер.",
        8: "Перезагрузить сейчас",
        9: "Перезагрузить позже",
        10: "Произошла ошибка сети. Повторите попытку позже.",
        11: "Доступна новая версия Plinthware:",
        12: "Установить",
        13: "Пропустить",
        14: "Вы используете последнюю версию.",
        15: "Не удалось установить Plinthware. Повторите попытку позже.",
    }),
    "0411": ("Japanese", {
        0: "Plinthware アップデーター",
        1: "基本ドライバーがインストールされました。",
        # The blank after 。 lets the SysLink break the line there: it breaks only at blanks.
        2: "Orvane Plinthware をダウンロードすると、高度な機能を利用できます。 "
           "今すぐ、または後で次のアドレスからダウンロードできます: {link}",
        3: "今すぐダウンロード",
        4: "後でダウンロード",
        5: "Plinthware をダウンロードしています:",
        6: "Plinthware をインストールしています:",
        7: "Plinthware は正常にインストールされました。Plinthware を使用する前に、"
           "コンピューターを再起動する必要があります。",
        8: "今すぐ再起動",
        9: "後で再起動",
        10: "ネットワーク エラーが発生しました。後でもう一度お試しください。",
        11: "Plinthware の新しいバージョンを利用できます:",
        12: "インストール",
        13: "無視",
        14: "最新バージョンを使用しています。",
        15: "Plinthware をインストールできませんでした。後でもう一度お試しください。",
    }),
    "0804": ("Simplified Chinese", {
        0: "Plinthware 更新程序",
        1: "基本驱动程序已安装。",
        2: "下载 Orvane Plinthware 后即可使用更多高级功能。您可以立即下载，也可以稍后从以下地址下载："
           "{link}",
        3: "立即下载",
        4: "稍后下载",
        5: "正在下载 Plinthware：",
        6: "正在安装 Plinthware：",
        7: "Plinthware 已成功安装。使用 Plinthware 之前，必须重新启动计算机。",
        8: "立即重新启动",
        9: "稍后重新启动",
        10: "发生网络错误。请稍后重试。",
        11: "有新版本的 Plinthware 可用：",
        12: "安装",
        13: "忽略",
        14: "您使用的是最新版本。",
        15: "无法安装 Plinthware。请稍后重试。",
    }),
    "0412": ("Korean", {
        0: "Plinthware 업데이터",
        1: "기본 드라이버가 설치되었습니다.",
        2: "Orvane Plinthware를 다운로드하면 더 많은 고급 기능을 사용할 수 있습니다. 지금 "
           "다운로드하거나 나중에 다음 주소에서 다운로드할 수 있습니다: {link}",
        3: "지금 다운로드",
        4: "나중에 다운로드",
        5: "Plinthware 다운로드 중:",
        6: "Plinthware 설치 중:",
        7: "Plinthware를 설치했습니다. Plinthware를 사용하려면 먼저 컴퓨터를 다시 시작해야 합니다.",
        8: "지금 다시 시작",
        9: "나중에 다시 시작",
        10: "네트워크 오류가 발생했습니다. 나중에 다시 시도하십시오.",
        11: "새 버전의 Plinthware를 사용할 수 있습니다:",
        12: "설치",
        13: "무시",
        14: "최신 버전을 사용하고 있습니다.",
        15: "Plinthware를 설치하지 못했습니다. 나중에 다시 시도하십시오.",
    }),
}
