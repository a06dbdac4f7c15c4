<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Res</name>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>MAC Address</source>
        <translation>MAC-Adresse</translation>
    </message>
    <message>
        <source>IP Address</source>
        <translation>IP-Adresse</translation>
    </message>
    <message>
        <source>New computer...</source>
        <translation>Neuer Computer...</translation>
    </message>
    <message>
        <source>Adds a new computer to the database.</source>
        <translation>Fügt der Datenbank einen neuen Computer hinzu.</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Removes the selected computer from the database.</source>
        <translation>Entfernt den ausgewählten Computer aus der Datenbank.</translation>
    </message>
    <message>
        <source>Properties...</source>
        <translation>Eigenschaften...</translation>
    </message>
    <message>
        <source>Displays the properties of the selected computer.</source>
        <translation>Zeigt die Eigenschaften des ausgewählten Computers an.</translation>
    </message>
    <message>
        <source>Activate</source>
        <translation>Aufwecken</translation>
    </message>
    <message>
        <source>Attempts to activate the selected computer</source>
        <translation>Versucht, den ausgewählten Computer aufzuwecken</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>About...</source>
        <translation>Über...</translation>
    </message>
    <message>
        <source>Get Sablewick Professional</source>
        <translation>Sablewick Professional erwerben</translation>
    </message>
    <message>
        <source>Ostrel Development web site</source>
        <translation>Website von Ostrel Development</translation>
    </message>
    <message>
        <source>Quandrel web site</source>
        <translation>Website von Quandrel</translation>
    </message>
    <message>
        <source>Support forums</source>
        <translation>Support-Foren</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message>
        <source>&amp;Tools</source>
        <translation>E&amp;xtras</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>New</source>
        <translation>Neu</translation>
    </message>
    <message>
        <source>Ne&amp;w computer...</source>
        <translation>Neuer &amp;Computer...</translation>
    </message>
    <message>
        <source>&amp;Exit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation>&amp;Löschen</translation>
    </message>
    <message>
        <source>&amp;Properties...</source>
        <translation>&amp;Eigenschaften...</translation>
    </message>
    <message>
        <source>&amp;Activate</source>
        <translation>&amp;Aufwecken</translation>
    </message>
    <message>
        <source>&amp;Get Sablewick Professional</source>
        <translation>Sablewick Professional &amp;erwerben</translation>
    </message>
    <message>
        <source>&amp;Ostrel Development web site</source>
        <translation>&amp;Website von Ostrel Development</translation>
    </message>
    <message>
        <source>&amp;Quandrel web site</source>
        <translation>Website von &amp;Quandrel</translation>
    </message>
    <message>
        <source>&amp;Support forums</source>
        <translation>&amp;Support-Foren</translation>
    </message>
    <message>
        <source>&amp;About...</source>
        <translation>Ü&amp;ber...</translation>
    </message>
    <message>
        <source>Main tool bar</source>
        <extracomment>Names of the main window&apos;s two tool bar rows, read out by screen readers.</extracomment>
        <translation>Hauptsymbolleiste</translation>
    </message>
    <message>
        <source>Main tool bar, second row</source>
        <translation>Hauptsymbolleiste, zweite Reihe</translation>
    </message>
    <message>
        <source>You need to specify at least one valid MAC address!     </source>
        <extracomment>Message boxes: the blanks at the end widen the box; keep them.</extracomment>
        <translation>Sie müssen mindestens eine gültige MAC-Adresse angeben!     </translation>
    </message>
    <message>
        <source>Invalid MAC address!     </source>
        <translation>Ungültige MAC-Adresse!     </translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a valid IP address!     </source>
        <extracomment>%1: the address as typed.</extracomment>
        <translation>„%1“ ist keine gültige IP-Adresse!     </translation>
    </message>
    <message>
        <source>You need to specify a valid IP address or host name!     </source>
        <translation>Sie müssen eine gültige IP-Adresse oder einen Hostnamen angeben!     </translation>
    </message>
    <message>
        <source>Sablewick is unable to startup because your user account     <byte value="xd"/>
does not include administrative priviliges!<byte value="xd"/>
<byte value="xd"/>
Please logon with an adminstrator account or contact your<byte value="xd"/>
system administrator for more information.</source>
        <translation>Sablewick kann nicht starten, weil Ihr Benutzerkonto     <byte value="xd"/>
keine Administratorrechte hat!<byte value="xd"/>
<byte value="xd"/>
Bitte melden Sie sich mit einem Administratorkonto an oder wenden Sie sich<byte value="xd"/>
für weitere Informationen an Ihren Systemadministrator.</translation>
    </message>
    <message>
        <source>Specify IP Address</source>
        <translation>IP-Adresse angeben</translation>
    </message>
    <message>
        <source>Enter the computer&apos;s IP address or use Auto-detect.</source>
        <translation>IP-Adresse eingeben oder mit „Erkennen“ ermitteln.</translation>
    </message>
    <message>
        <source>Specify networkcard MAC-address</source>
        <translation>MAC-Adresse der Netzwerkkarte angeben</translation>
    </message>
    <message>
        <source>Enter the MAC-address of the computer&apos;s networkcard</source>
        <translation>MAC-Adresse der Netzwerkkarte des Computers eingeben</translation>
    </message>
    <message>
        <source>Add computer</source>
        <translation>Computer hinzufügen</translation>
    </message>
    <message>
        <source>Add the computer to the database or review your selections</source>
        <translation>Computer hinzufügen oder Angaben überprüfen</translation>
    </message>
    <message>
        <source>Finish</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>Next &gt;</source>
        <translation>Weiter &gt;</translation>
    </message>
    <message>
        <source>You must provide a name for the computer you wish to add!     </source>
        <translation>Sie müssen einen Namen für den hinzuzufügenden Computer angeben!     </translation>
    </message>
    <message>
        <source>You must specify a valid IP address!     </source>
        <translation>Sie müssen eine gültige IP-Adresse angeben!     </translation>
    </message>
    <message>
        <source>You must specify a valid MAC address!     </source>
        <translation>Sie müssen eine gültige MAC-Adresse angeben!     </translation>
    </message>
    <message>
        <source>Home network (LAN)</source>
        <translation>Heimnetzwerk (LAN)</translation>
    </message>
    <message>
        <source>Internet</source>
        <translation>Internet</translation>
    </message>
    <message>
        <source>Computer name	: %1<byte value="xd"/>
Connection	: %2<byte value="xd"/>
IP Address	: %3<byte value="xd"/>
MAC Address	: %4</source>
        <extracomment>The wizard&apos;s summary: field, tab, colon, value. %1 name, %2 connection, %3 IP address, %4 MAC address.</extracomment>
        <translation>Computername	: %1<byte value="xd"/>
Verbindung	: %2<byte value="xd"/>
IP-Adresse	: %3<byte value="xd"/>
MAC-Adresse	: %4</translation>
    </message>
    <message>
        <source>Attempting to auto-detect MAC-address...</source>
        <translation>MAC-Adresse wird automatisch erkannt...</translation>
    </message>
    <message>
        <source>IP Address: %1</source>
        <translation>IP-Adresse: %1</translation>
    </message>
    <message>
        <source>MAC Address: %1</source>
        <translation>MAC-Adresse: %1</translation>
    </message>
    <message>
        <source>Comments: %1</source>
        <translation>Kommentar: %1</translation>
    </message>
    <message>
        <source> (Online)</source>
        <translation> (online)</translation>
    </message>
    <message>
        <source> (Offline)</source>
        <translation> (offline)</translation>
    </message>
    <message>
        <source>Specify name and connection type</source>
        <translation>Name und Verbindungsart angeben</translation>
    </message>
    <message>
        <source>Specify the name of the computer and how it&apos;s connected.</source>
        <translation>Name des Computers und seine Verbindung angeben.</translation>
    </message>
    <message>
        <source>The computer &quot;%1&quot; will be removed from the database!     <byte value="xd"/>
Do you want to continue?</source>
        <extracomment>%1: the computer&apos;s name.</extracomment>
        <translation>Der Computer „%1“ wird aus der Datenbank entfernt!     <byte value="xd"/>
Möchten Sie fortfahren?</translation>
    </message>
    <message>
        <source>The selected items will be removed from the database!     <byte value="xd"/>
Do you want to continue?</source>
        <translation>Die ausgewählten Einträge werden aus der Datenbank entfernt!     <byte value="xd"/>
Möchten Sie fortfahren?</translation>
    </message>
    <message>
        <source>Sablewick</source>
        <translation>Sablewick</translation>
    </message>
    <message>
        <source>Unable to open the database &quot;%1&quot;!<byte value="xd"/>
%2</source>
        <extracomment>%1: the database file; %2: the reason.</extracomment>
        <translation>Die Datenbank „%1“ kann nicht geöffnet werden!<byte value="xd"/>
%2</translation>
    </message>
    <message>
        <source>Unable to create the database &quot;%1&quot;!<byte value="xd"/>
%2</source>
        <translation>Die Datenbank „%1“ kann nicht angelegt werden!<byte value="xd"/>
%2</translation>
    </message>
    <message>
        <source>Unable to create temporary file due to the following error:<byte value="xd"/>
%1</source>
        <translation>Die temporäre Datei kann wegen des folgenden Fehlers nicht angelegt werden:<byte value="xd"/>
%1</translation>
    </message>
    <message>
        <source>Unable to save the database &quot;%1&quot;!<byte value="xd"/>
%2</source>
        <translation>Die Datenbank „%1“ kann nicht gespeichert werden!<byte value="xd"/>
%2</translation>
    </message>
    <message>
        <source>Invalid input value.  Use escape key to abandon changes</source>
        <extracomment>Shown when a MAC address field holds an incomplete address.</extracomment>
        <translation>Ungültige Eingabe.  Mit der Escape-Taste verwerfen Sie die Änderungen</translation>
    </message>
    <message>
        <source>Response from %1 in %2 millisec.</source>
        <extracomment>The reply of a reachability check: %1 the address, %2 the round-trip time.</extracomment>
        <translation>Antwort von %1 in %2 ms.</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>Unbekannter Fehler</translation>
    </message>
    <message>
        <source>Timed out</source>
        <translation>Zeitüberschreitung</translation>
    </message>
    <message>
        <source>%1 reports destination network unreachable</source>
        <extracomment>%1: the router that reported it.</extracomment>
        <translation>%1 meldet: Zielnetzwerk nicht erreichbar</translation>
    </message>
    <message>
        <source>%1 TTL expired</source>
        <translation>%1: TTL abgelaufen</translation>
    </message>
    <message>
        <source>Exception: %1</source>
        <translation>Ausnahme: %1</translation>
    </message>
    <message>
        <source>Cannot allocate socket.</source>
        <translation>Socket kann nicht angelegt werden.</translation>
    </message>
    <message>
        <source>Not enough bytes received</source>
        <translation>Zu wenige Bytes empfangen</translation>
    </message>
    <message>
        <source>Non-echo type response received</source>
        <translation>Antwort ohne Echo-Typ empfangen</translation>
    </message>
    <message>
        <source>Socket Error # %1<byte value="xd"/>
%2</source>
        <translation>Socket-Fehler Nr. %1<byte value="xd"/>
%2</translation>
    </message>
    <message>
        <source>N/A</source>
        <translation>k. A.</translation>
    </message>
    <message>
        <source>Every day at </source>
        <extracomment>Schedule descriptions are built from pieces: &quot;Every day at &quot; + &quot;06:30 hrs&quot;. Keep the blanks at the ends.</extracomment>
        <translation>Jeden Tag um </translation>
    </message>
    <message>
        <source>Every %1 days at </source>
        <translation>Alle %1 Tage um </translation>
    </message>
    <message>
        <source>Every week on </source>
        <translation>Jede Woche am </translation>
    </message>
    <message>
        <source>Every %1 weeks on </source>
        <translation>Alle %1 Wochen am </translation>
    </message>
    <message>
        <source>; at </source>
        <translation>; um </translation>
    </message>
    <message>
        <source>Every first </source>
        <translation>Jeden ersten </translation>
    </message>
    <message>
        <source>Every second </source>
        <translation>Jeden zweiten </translation>
    </message>
    <message>
        <source>Every third </source>
        <translation>Jeden dritten </translation>
    </message>
    <message>
        <source>Every fourth </source>
        <translation>Jeden vierten </translation>
    </message>
    <message>
        <source>Every last </source>
        <translation>Jeden letzten </translation>
    </message>
    <message>
        <source> of every month at </source>
        <translation> jedes Monats um </translation>
    </message>
    <message>
        <source>Day %1 of every month at </source>
        <translation>Am %1. Tag jedes Monats um </translation>
    </message>
    <message>
        <source>MMMM dd, yyyy, </source>
        <extracomment>A date format of QDateTime (MMMM month name, dd day, yyyy year) for a schedule that runs once.</extracomment>
        <translation>d. MMMM yyyy, </translation>
    </message>
    <message>
        <source>%1:%2 hrs</source>
        <translation>%1:%2 Uhr</translation>
    </message>
    <message>
        <source>Sun</source>
        <extracomment>Short weekday names in schedule descriptions.</extracomment>
        <translation>So</translation>
    </message>
    <message>
        <source>Mon</source>
        <translation>Mo</translation>
    </message>
    <message>
        <source>Tue</source>
        <translation>Di</translation>
    </message>
    <message>
        <source>Wed</source>
        <translation>Mi</translation>
    </message>
    <message>
        <source>Thu</source>
        <translation>Do</translation>
    </message>
    <message>
        <source>Fri</source>
        <translation>Fr</translation>
    </message>
    <message>
        <source>Sat</source>
        <translation>Sa</translation>
    </message>
    <message>
        <source>Library not found: %1</source>
        <translation>Bibliothek nicht gefunden: %1</translation>
    </message>
    <message>
        <source>Function not found: %1.%2</source>
        <translation>Funktion nicht gefunden: %1.%2</translation>
    </message>
    <message>
        <source>Version %1 [%2]</source>
        <extracomment>About box: %1 the version, %2 the build&apos;s commit or date.</extracomment>
        <translation>Version %1 [%2]</translation>
    </message>
    <message>
        <source>New computer wizard</source>
        <translation>Assistent für neue Computer</translation>
    </message>
    <message>
        <source>This computer is &amp;connected to:</source>
        <translation>Dieser Computer ist &amp;verbunden mit:</translation>
    </message>
    <message>
        <source>the home network (LAN)</source>
        <translation>dem Heimnetzwerk (LAN)</translation>
    </message>
    <message>
        <source>the Internet</source>
        <translation>dem Internet</translation>
    </message>
    <message>
        <source>Computer &amp;name:</source>
        <translation>Computer&amp;name:</translation>
    </message>
    <message>
        <source>B&amp;rowse network...</source>
        <translation>Netzwerk &amp;durchsuchen...</translation>
    </message>
    <message>
        <source>&amp;IP Address:</source>
        <translation>&amp;IP-Adresse:</translation>
    </message>
    <message>
        <source>&amp;Auto-detect</source>
        <translation>&amp;Erkennen</translation>
    </message>
    <message>
        <source>&amp;MAC address:</source>
        <translation>&amp;MAC-Adresse:</translation>
    </message>
    <message>
        <source>You have finished the New computer wizard! Click Finish to add the computer to the database. Click Back to review  your selections or click Cancel to exit this wizard without adding a computer to the database.</source>
        <translation>Sie haben den Assistenten für neue Computer abgeschlossen! Klicken Sie auf „Fertig“, um den Computer der Datenbank hinzuzufügen. Klicken Sie auf „Zurück“, um Ihre Angaben zu überprüfen, oder auf „Abbrechen“, um den Assistenten zu verlassen, ohne einen Computer hinzuzufügen.</translation>
    </message>
    <message>
        <source>&lt; &amp;Back</source>
        <translation>&lt; &amp;Zurück</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Browse network</source>
        <translation>Netzwerk durchsuchen</translation>
    </message>
    <message>
        <source>Computers</source>
        <translation>Computer</translation>
    </message>
    <message>
        <source>Comments</source>
        <translation>Kommentare</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Auswählen</translation>
    </message>
    <message>
        <source>Resource oemlogo not found</source>
        <translation>Ressource oemlogo nicht gefunden</translation>
    </message>
    <message>
        <source>JPEG error: %1</source>
        <translation>JPEG-Fehler: %1</translation>
    </message>
    <message>
        <source>JPEG error: the image is too large</source>
        <translation>JPEG-Fehler: Das Bild ist zu groß</translation>
    </message>
    <message>
        <source>JPEG error: the image has too many scans</source>
        <translation>JPEG-Fehler: Das Bild hat zu viele Scans</translation>
    </message>
    <message>
        <source>Copyright © 2026 Ostrel Software</source>
        <translation>Copyright © 2026 Ostrel Software</translation>
    </message>
    <message>
        <source>All rights reserved.</source>
        <translation>Alle Rechte vorbehalten.</translation>
    </message>
    <message>
        <source>Network components by Quandrel Labs</source>
        <translation>Netzwerkkomponenten von Quandrel Labs</translation>
    </message>
    <message>
        <source>This program is protected by copyright law. Copying or distributing it, or any part of it, without permission is not allowed.</source>
        <translation>Dieses Programm ist urheberrechtlich geschützt. Es darf ohne Genehmigung weder ganz noch in Teilen kopiert oder verbreitet werden.</translation>
    </message>
    <message>
        <source>The file is not a valid compound file.</source>
        <translation>Die Datei ist keine gültige Verbunddatei.</translation>
    </message>
    <message>
        <source>The process cannot access the file because it is being used by another process.</source>
        <translation>Der Prozess kann nicht auf die Datei zugreifen, da sie von einem anderen Prozess verwendet wird.</translation>
    </message>
    <message>
        <source>SMB Network</source>
        <translation>SMB-Netzwerk</translation>
    </message>
    <message>
        <source>%1 answered %2 s after the wake-up</source>
        <extracomment>Status bar: %1 the computer, %2 seconds.</extracomment>
        <translation>%1 hat %2 s nach dem Aufwecken geantwortet</translation>
    </message>
    <message>
        <source>%1 did not answer within 3 minutes of the wake-up</source>
        <translation>%1 hat innerhalb von 3 Minuten nach dem Aufwecken nicht geantwortet</translation>
    </message>
    <message>
        <source>Magic packet for %1 sent to %2, which is not on a local network of this computer</source>
        <extracomment>Status bar: %1 the computer, %2 the broadcast address the packet went to.</extracomment>
        <translation>Magic Packet für %1 an %2 gesendet; diese Adresse liegt in keinem lokalen Netzwerk dieses Computers</translation>
    </message>
    <message>
        <source>Answers from a different MAC address (%1) than the stored one</source>
        <translation>Antwortet von einer anderen MAC-Adresse (%1) als der gespeicherten</translation>
    </message>
    <message>
        <source>Reachability checks are unavailable: this program may not open a ping socket. Allow ping sockets (net.ipv4.ping_group_range) or install the package; see REACHABILITY CHECKS in the manual page (man sablewick).</source>
        <extracomment>REACHABILITY CHECKS is the title of a section of the manual page; keep it in English.</extracomment>
        <translation>Erreichbarkeitsprüfungen sind nicht verfügbar: Dieses Programm darf keinen Ping-Socket öffnen. Erlauben Sie Ping-Sockets (net.ipv4.ping_group_range) oder installieren Sie das Paket; siehe REACHABILITY CHECKS in der Handbuchseite (man sablewick).</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Checks whether the selected computers, or all computers, are online</source>
        <translation>Prüft, ob die ausgewählten Computer oder alle Computer online sind</translation>
    </message>
    <message>
        <source>&amp;Refresh</source>
        <translation>A&amp;ktualisieren</translation>
    </message>
    <message>
        <source>Wakes the computers of the list and tells whether they are online.</source>
        <extracomment>The command line&apos;s --help.</extracomment>
        <translation>Weckt die Computer der Liste auf und zeigt, ob sie online sind.</translation>
    </message>
    <message>
        <source>Use FILE as the database instead of the usual one.</source>
        <translation>DATEI statt der üblichen Datenbank verwenden.</translation>
    </message>
    <message>
        <source>FILE</source>
        <translation>DATEI</translation>
    </message>
    <message>
        <source>Wake the computers named (by name, MAC address or IP address).</source>
        <translation>Die genannten Computer aufwecken (nach Name, MAC-Adresse oder IP-Adresse).</translation>
    </message>
    <message>
        <source>List the computers with their last known status.</source>
        <translation>Die Computer mit ihrem zuletzt bekannten Status auflisten.</translation>
    </message>
    <message>
        <source>Check the computers named now; exit code 0 only when all are online.</source>
        <translation>Die genannten Computer jetzt prüfen; Exit-Code 0 nur, wenn alle online sind.</translation>
    </message>
    <message>
        <source>Print the list, the status, the relays or the scan as JSON.</source>
        <translation>Die Liste, den Status, die Relays oder das Ergebnis des Scans als JSON ausgeben.</translation>
    </message>
    <message>
        <source>Show this help and exit.</source>
        <translation>Diese Hilfe anzeigen und beenden.</translation>
    </message>
    <message>
        <source>Show the version and exit.</source>
        <translation>Die Version anzeigen und beenden.</translation>
    </message>
    <message>
        <source>Computers: names, MAC addresses or IP addresses.</source>
        <translation>Computer: Namen, MAC-Adressen oder IP-Adressen.</translation>
    </message>
    <message>
        <source>sablewick: %1</source>
        <extracomment>Error line of the command line: keep &quot;sablewick: &quot; in front.</extracomment>
        <translation>sablewick: %1</translation>
    </message>
    <message>
        <source>choose one of --wake, --list, --status, --run-schedules, --relays and --scan</source>
        <translation>wählen Sie eine der Optionen --wake, --list, --status, --run-schedules, --relays und --scan</translation>
    </message>
    <message>
        <source>%1 needs at least one computer</source>
        <translation>%1 braucht mindestens einen Computer</translation>
    </message>
    <message>
        <source>--list takes no computers</source>
        <translation>--list nimmt keine Computer an</translation>
    </message>
    <message>
        <source>--json goes with --list, --status, --relays or --scan</source>
        <translation>--json gehört zu --list, --status, --relays oder --scan</translation>
    </message>
    <message>
        <source>computers named without --wake or --status</source>
        <translation>Computer ohne --wake oder --status genannt</translation>
    </message>
    <message>
        <source>no computer matches &quot;%1&quot;</source>
        <translation>kein Computer passt zu „%1“</translation>
    </message>
    <message>
        <source>&quot;%1&quot; has no MAC address to wake</source>
        <translation>„%1“ hat keine MAC-Adresse zum Aufwecken</translation>
    </message>
    <message>
        <source>no database at %1</source>
        <translation>keine Datenbank unter %1</translation>
    </message>
    <message>
        <source>the running instance did not answer</source>
        <translation>das laufende Programm hat nicht geantwortet</translation>
    </message>
    <message>
        <source>the results could not be saved: %1</source>
        <translation>die Ergebnisse konnten nicht gespeichert werden: %1</translation>
    </message>
    <message>
        <source>Wake-up sent to %1 (%2)</source>
        <translation>Weckruf an %1 (%2) gesendet</translation>
    </message>
    <message>
        <source>online</source>
        <extracomment>Status words of &quot;sablewick --list&quot;.</extracomment>
        <translation>online</translation>
    </message>
    <message>
        <source>offline</source>
        <translation>offline</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
    <message>
        <source>never</source>
        <translation>nie</translation>
    </message>
    <message>
        <source>the request was not understood</source>
        <translation>die Anfrage wurde nicht verstanden</translation>
    </message>
    <message>
        <source>--database can be given once</source>
        <translation>--database darf nur einmal angegeben werden</translation>
    </message>
    <message>
        <source>the wake-up for &quot;%1&quot; could not be sent</source>
        <translation>der Weckruf für „%1“ konnte nicht gesendet werden</translation>
    </message>
    <message>
        <source>Unable to read the database &quot;%1&quot;! The file was left untouched.<byte value="xd"/>
%2</source>
        <translation>Die Datenbank „%1“ kann nicht gelesen werden! Die Datei wurde nicht verändert.<byte value="xd"/>
%2</translation>
    </message>
    <message>
        <source>The name is a directory, not a regular file.</source>
        <translation>Der Name ist ein Verzeichnis, keine reguläre Datei.</translation>
    </message>
    <message>
        <source>The name is a named pipe (FIFO), not a regular file.</source>
        <translation>Der Name ist eine benannte Pipe (FIFO), keine reguläre Datei.</translation>
    </message>
    <message>
        <source>The name is a socket, not a regular file.</source>
        <translation>Der Name ist ein Socket, keine reguläre Datei.</translation>
    </message>
    <message>
        <source>The name is a device, not a regular file.</source>
        <translation>Der Name ist ein Gerät, keine reguläre Datei.</translation>
    </message>
    <message>
        <source>The name is a symbolic link to a file that does not exist.</source>
        <translation>Der Name ist ein symbolischer Link auf eine Datei, die nicht existiert.</translation>
    </message>
    <message>
        <source>Response from %1 on TCP port %2.</source>
        <extracomment>The reply of a check by TCP: %1 the address, %2 the port.</extracomment>
        <translation>Antwort von %1 auf TCP-Port %2.</translation>
    </message>
    <message>
        <source>Options...</source>
        <translation>Optionen...</translation>
    </message>
    <message>
        <source>Changes how computers are checked</source>
        <translation>Ändert, wie Computer geprüft werden</translation>
    </message>
    <message>
        <source>&amp;Options...</source>
        <translation>&amp;Optionen...</translation>
    </message>
    <message>
        <source>Options</source>
        <translation>Optionen</translation>
    </message>
    <message>
        <source>&amp;TCP ports tried when a computer does not answer ping:</source>
        <translation>&amp;TCP-Ports, die geprüft werden, wenn ein Computer nicht auf Ping antwortet:</translation>
    </message>
    <message>
        <source>Port numbers separated by commas or blanks. Leave the list empty to check with ping only.</source>
        <translation>Portnummern, getrennt durch Kommas oder Leerzeichen. Lassen Sie die Liste leer, um nur mit Ping zu prüfen.</translation>
    </message>
    <message>
        <source>&amp;Defaults</source>
        <translation>&amp;Standardwerte</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a port number (1 to 65535).</source>
        <translation>„%1“ ist keine Portnummer (1 bis 65535).</translation>
    </message>
    <message>
        <source>At most %1 ports can be tried.</source>
        <translation>Es können höchstens %1 Ports geprüft werden.</translation>
    </message>
    <message>
        <source>The settings could not be saved in %1.</source>
        <translation>Die Einstellungen konnten nicht in %1 gespeichert werden.</translation>
    </message>
    <message>
        <source>Wake-up sent to %1; whether it answered could not be checked. %2</source>
        <translation>Weckruf an %1 gesendet; ob er geantwortet hat, konnte nicht geprüft werden. %2</translation>
    </message>
    <message>
        <source>The database could not be opened: %1</source>
        <translation>Die Datenbank konnte nicht geöffnet werden: %1</translation>
    </message>
    <message>
        <source>Searching…</source>
        <translation>Suche läuft…</translation>
    </message>
    <message>
        <source>No computers found</source>
        <translation>Keine Computer gefunden</translation>
    </message>
    <message>
        <source>Filter by name, address or comment (Ctrl+F)</source>
        <translation>Nach Name, Adresse oder Kommentar filtern (Strg+F)</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>%1 of %2 shown</source>
        <translation>%1 von %2 angezeigt</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Last checked</source>
        <translation>Zuletzt geprüft</translation>
    </message>
    <message>
        <source>Through relay</source>
        <translation>Über Relay</translation>
    </message>
    <message>
        <source>Online</source>
        <translation>Online</translation>
    </message>
    <message>
        <source>Offline</source>
        <translation>Offline</translation>
    </message>
    <message>
        <source>Online: %1</source>
        <translation>Online: %1</translation>
    </message>
    <message>
        <source>Offline: %1</source>
        <translation>Offline: %1</translation>
    </message>
    <message>
        <source>The relay &quot;%1&quot; will be removed from the list of relays.
Do you want to continue?</source>
        <translation>Das Relay „%1“ wird aus der Liste der Relays entfernt.
Möchten Sie fortfahren?</translation>
    </message>
    <message>
        <source>Scan network</source>
        <translation>Netzwerk scannen</translation>
    </message>
    <message>
        <source>&amp;Network:</source>
        <translation>&amp;Netzwerk:</translation>
    </message>
    <message>
        <source>&amp;Start</source>
        <translation>&amp;Starten</translation>
    </message>
    <message>
        <source>S&amp;top</source>
        <translation>Sto&amp;ppen</translation>
    </message>
    <message>
        <source>&amp;Add selected</source>
        <translation>Ausgewählte &amp;hinzufügen</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>S&amp;chließen</translation>
    </message>
    <message>
        <source>Found: %1</source>
        <translation>Gefunden: %1</translation>
    </message>
    <message>
        <source>&amp;Hosts found:</source>
        <translation>&amp;Gefundene Hosts:</translation>
    </message>
    <message>
        <source>Scan progress</source>
        <translation>Fortschritt des Scans</translation>
    </message>
    <message>
        <source>Vendor</source>
        <translation>Hersteller</translation>
    </message>
    <message>
        <source>In database</source>
        <translation>In der Datenbank</translation>
    </message>
    <message>
        <source>as %1</source>
        <translation>als %1</translation>
    </message>
    <message>
        <source>new</source>
        <translation>neu</translation>
    </message>
    <message>
        <source>%1 computers added</source>
        <translation>%1 Computer hinzugefügt</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a network: give an address and a prefix length, as 10.1.2.0/24</source>
        <translation>„%1“ ist kein Netzwerk: Geben Sie eine Adresse und eine Präfixlänge an, etwa 10.1.2.0/24</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is wider than a /16: scan at most 65,534 addresses at a time</source>
        <translation>„%1“ ist größer als ein /16: Scannen Sie höchstens 65.534 Adressen auf einmal</translation>
    </message>
    <message>
        <source>cannot scan: %1</source>
        <translation>Scannen nicht möglich: %1</translation>
    </message>
    <message>
        <source>At most %1 probes a second.</source>
        <translation>Höchstens %1 Anfragen pro Sekunde.</translation>
    </message>
    <message>
        <source>Scan network...</source>
        <translation>Netzwerk scannen...</translation>
    </message>
    <message>
        <source>Finds the computers of a network and adds those you choose.</source>
        <translation>Findet die Computer eines Netzwerks und fügt die ausgewählten hinzu.</translation>
    </message>
    <message>
        <source>&amp;Scan network...</source>
        <translation>Netzwerk &amp;scannen...</translation>
    </message>
    <message>
        <source>Scan NETWORK (as 10.1.2.0/24) and list the hosts that answer.</source>
        <translation>NETZWERK (etwa 10.1.2.0/24) scannen und die antwortenden Hosts auflisten.</translation>
    </message>
    <message>
        <source>NETWORK</source>
        <translation>NETZWERK</translation>
    </message>
    <message>
        <source>With --scan: add the hosts found that are not in the database yet.</source>
        <translation>Mit --scan: die gefundenen Hosts hinzufügen, die noch nicht in der Datenbank sind.</translation>
    </message>
    <message>
        <source>--add goes with --scan</source>
        <translation>--add gehört zu --scan</translation>
    </message>
    <message>
        <source>--add prints only a count: leave out --json</source>
        <translation>--add gibt nur eine Anzahl aus: lassen Sie --json weg</translation>
    </message>
    <message>
        <source>&quot;%1&quot; matches several computers: %2; name one by its MAC or IP address</source>
        <extracomment>%1 what was typed, %2 the computers it matches, each as &quot;NAME (MAC, IP)&quot;.</extracomment>
        <translation>„%1“ passt auf mehrere Computer: %2; nennen Sie einen davon mit seiner MAC- oder IP-Adresse</translation>
    </message>
    <message>
        <source>1 computer added</source>
        <translation>1 Computer hinzugefügt</translation>
    </message>
    <message>
        <source>computers</source>
        <extracomment>The name of the computers in --help&apos;s list of arguments.</extracomment>
        <translation>Computer</translation>
    </message>
    <message>
        <source>there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open; without one these work: --wake, --list, --status, --run-schedules, --relays, --scan, --help and --version</source>
        <translation>es gibt keine Anzeige (weder DISPLAY noch WAYLAND_DISPLAY ist gesetzt), daher kann das Fenster nicht öffnen; ohne Anzeige funktionieren: --wake, --list, --status, --run-schedules, --relays, --scan, --help und --version</translation>
    </message>
    <message>
        <source>No web browser could be started to open %1</source>
        <translation>Es konnte kein Webbrowser gestartet werden, um %1 zu öffnen</translation>
    </message>
    <message>
        <source>one MAC answers for %1 addresses: a router&apos;s proxy ARP?</source>
        <extracomment>A host of a scan whose MAC address answered for %1 addresses of the network.</extracomment>
        <translation>eine MAC antwortet für %1 Adressen: Proxy-ARP eines Routers?</translation>
    </message>
    <message>
        <source>hosts left out because their MAC answers for several addresses: %1 (--add-shared adds them)</source>
        <translation>ausgelassene Hosts, weil ihre MAC für mehrere Adressen antwortet: %1 (--add-shared fügt sie hinzu)</translation>
    </message>
    <message>
        <source>With --scan --add: add the hosts whose MAC answers for several addresses too.</source>
        <translation>Mit --scan --add: auch die Hosts hinzufügen, deren MAC für mehrere Adressen antwortet.</translation>
    </message>
    <message>
        <source>--add-shared goes with --scan and --add</source>
        <translation>--add-shared gehört zu --scan und --add</translation>
    </message>
    <message>
        <source>there is no route from this computer to %1</source>
        <translation>es gibt keine Route von diesem Computer zu %1</translation>
    </message>
    <message>
        <source>%1 of %2 addresses probed, %3 hosts found, about %4 s left</source>
        <extracomment>Progress of --scan on a terminal: %1 addresses probed, %2 of all, %3 hosts found, %4 seconds.</extracomment>
        <translation>%1 von %2 Adressen geprüft, %3 Hosts gefunden, noch etwa %4 s</translation>
    </message>
    <message>
        <source>the request is too large (more than %1 MiB)</source>
        <translation>die Anfrage ist zu groß (mehr als %1 MiB)</translation>
    </message>
    <message>
        <source>no check could run: allow ping sockets (sudo sysctl net.ipv4.ping_group_range=&quot;0 2147483647&quot;), give the program the raw-socket capability (sudo setcap cap_net_raw+p %1) or run it as root; see REACHABILITY CHECKS in the manual page (man sablewick)</source>
        <translation>keine Prüfung konnte laufen: Erlauben Sie Ping-Sockets (sudo sysctl net.ipv4.ping_group_range=&quot;0 2147483647&quot;), geben Sie dem Programm die Raw-Socket-Berechtigung (sudo setcap cap_net_raw+p %1) oder starten Sie es als root; siehe REACHABILITY CHECKS in der Handbuchseite (man sablewick)</translation>
    </message>
    <message>
        <source>Schedule</source>
        <translation>Zeitplan</translation>
    </message>
    <message>
        <source>&amp;Wake this computer on a schedule</source>
        <translation>Diesen Computer nach &amp;Zeitplan aufwecken</translation>
    </message>
    <message>
        <source>&amp;Wake the computers without a schedule of their own</source>
        <translation>Die Computer ohne eigenen Zeitplan &amp;aufwecken</translation>
    </message>
    <message>
        <source>&amp;Repeat:</source>
        <translation>&amp;Wiederholen:</translation>
    </message>
    <message>
        <source>Daily</source>
        <translation>Täglich</translation>
    </message>
    <message>
        <source>Weekly</source>
        <translation>Wöchentlich</translation>
    </message>
    <message>
        <source>Monthly</source>
        <translation>Monatlich</translation>
    </message>
    <message>
        <source>Once</source>
        <translation>Einmal</translation>
    </message>
    <message>
        <source>&amp;Start at:</source>
        <translation>&amp;Beginn um:</translation>
    </message>
    <message>
        <source>E&amp;very:</source>
        <translation>A&amp;lle:</translation>
    </message>
    <message>
        <source> day(s)</source>
        <translation> Tag(e)</translation>
    </message>
    <message>
        <source> week(s)</source>
        <translation> Woche(n)</translation>
    </message>
    <message>
        <source>On &amp;days:</source>
        <translation>An &amp;Tagen:</translation>
    </message>
    <message>
        <source>On &amp;day</source>
        <translation>Am &amp;Tag</translation>
    </message>
    <message>
        <source>On &amp;the</source>
        <translation>Am &amp;jeweils</translation>
    </message>
    <message>
        <source>first</source>
        <translation>ersten</translation>
    </message>
    <message>
        <source>second</source>
        <translation>zweiten</translation>
    </message>
    <message>
        <source>third</source>
        <translation>dritten</translation>
    </message>
    <message>
        <source>fourth</source>
        <translation>vierten</translation>
    </message>
    <message>
        <source>last</source>
        <translation>letzten</translation>
    </message>
    <message>
        <source>&amp;Date:</source>
        <translation>&amp;Datum:</translation>
    </message>
    <message>
        <source>Summary:</source>
        <translation>Zusammenfassung:</translation>
    </message>
    <message>
        <source>Schedule for all computers</source>
        <translation>Zeitplan für alle Computer</translation>
    </message>
    <message>
        <source>Schedule for all computers...</source>
        <translation>Zeitplan für alle Computer...</translation>
    </message>
    <message>
        <source>Sets when the computers without a schedule of their own are woken.</source>
        <translation>Legt fest, wann die Computer ohne eigenen Zeitplan aufgeweckt werden.</translation>
    </message>
    <message>
        <source>S&amp;chedule for all computers...</source>
        <translation>&amp;Zeitplan für alle Computer...</translation>
    </message>
    <message>
        <source>Schedule: %1</source>
        <translation>Zeitplan: %1</translation>
    </message>
    <message>
        <source>Wake the computers whose schedule is due now, then exit.</source>
        <translation>Die Computer aufwecken, deren Zeitplan jetzt fällig ist, dann beenden.</translation>
    </message>
    <message>
        <source>Add a computer with the values given by --mac, --ip, --mode, --mask, --port and --comment, checked as the New computer wizard checks them.</source>
        <translation>Einen Computer mit den Werten von --mac, --ip, --mode, --mask, --port und --comment hinzufügen, geprüft wie im Assistenten für neue Computer.</translation>
    </message>
    <message>
        <source>NAME</source>
        <translation>NAME</translation>
    </message>
    <message>
        <source>Delete the computers named (by name, MAC address or IP address).</source>
        <translation>Die genannten Computer löschen (nach Name, MAC-Adresse oder IP-Adresse).</translation>
    </message>
    <message>
        <source>With --new: the MAC address, in any form --wake takes.</source>
        <translation>Mit --new: die MAC-Adresse, in jeder Form, die --wake annimmt.</translation>
    </message>
    <message>
        <source>With --new: the IP address (without it, the name is looked up).</source>
        <translation>Mit --new: die IP-Adresse (ohne sie wird der Name nachgeschlagen).</translation>
    </message>
    <message>
        <source>ADDRESS</source>
        <translation>ADRESSE</translation>
    </message>
    <message>
        <source>With --new: wake it through the home network (lan, the default) or the internet.</source>
        <translation>Mit --new: über das Heimnetz (lan, die Vorgabe) oder das Internet aufwecken.</translation>
    </message>
    <message>
        <source>With --new: the subnet mask (default 255.255.255.0).</source>
        <translation>Mit --new: die Subnetzmaske (Vorgabe 255.255.255.0).</translation>
    </message>
    <message>
        <source>MASK</source>
        <translation>MASKE</translation>
    </message>
    <message>
        <source>With --new: the comments.</source>
        <translation>Mit --new: die Kommentare.</translation>
    </message>
    <message>
        <source>TEXT</source>
        <translation>TEXT</translation>
    </message>
    <message>
        <source>With --new: the UDP port of its magic packets (default 1000). With --wake: the port of every packet of this run.</source>
        <translation>Mit --new: der UDP-Port seiner Magic Packets (Vorgabe 1000). Mit --wake: der Port jedes Pakets dieses Aufrufs.</translation>
    </message>
    <message>
        <extracomment>%1: an option, such as --mac.</extracomment>
        <source>%1 is given more than once</source>
        <translation>%1 ist mehr als einmal angegeben</translation>
    </message>
    <message>
        <source>%1 belongs to --new</source>
        <translation>%1 gehört zu --new</translation>
    </message>
    <message>
        <source>%1 belongs to --new or --wake</source>
        <translation>%1 gehört zu --new oder --wake</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a port number (1 to 65535)</source>
        <translation>„%1“ ist keine Portnummer (1 bis 65535)</translation>
    </message>
    <message>
        <source>--mode takes lan or internet, not &quot;%1&quot;</source>
        <translation>--mode nimmt lan oder internet, nicht „%1“</translation>
    </message>
    <message>
        <source>--new needs --mac</source>
        <translation>--new braucht --mac</translation>
    </message>
    <message>
        <source>a computer named &quot;%1&quot; exists already</source>
        <translation>ein Computer namens „%1“ ist schon vorhanden</translation>
    </message>
    <message>
        <source>no IP address found for &quot;%1&quot;; give one with --ip</source>
        <translation>keine IP-Adresse für „%1“ gefunden; geben Sie eine mit --ip an</translation>
    </message>
    <message>
        <extracomment>%1 the name, %2 the MAC address, %3 the IP address.</extracomment>
        <source>Added %1 (%2, %3)</source>
        <translation>%1 hinzugefügt (%2, %3)</translation>
    </message>
    <message>
        <source>Deleted %1</source>
        <translation>%1 gelöscht</translation>
    </message>
    <message>
        <source>the window is busy; try again</source>
        <translation>das Fenster ist beschäftigt; versuchen Sie es erneut</translation>
    </message>
    <message>
        <source>Sablewick&apos;s window holds the database but does not answer; try again when it does, or close the window</source>
        <translation>Das Fenster von Sablewick hält die Datenbank, antwortet aber nicht; versuchen Sie es erneut, sobald es antwortet, oder schließen Sie das Fenster</translation>
    </message>
    <message>
        <source>Sablewick&apos;s window holds the database; add the hosts with Scan network in its Tools menu, or close the window and run this again</source>
        <translation>Das Fenster von Sablewick hält die Datenbank; fügen Sie die Hosts mit „Netzwerk durchsuchen“ in seinem Menü Extras hinzu, oder schließen Sie das Fenster und rufen Sie dies erneut auf</translation>
    </message>
    <message>
        <extracomment>%1: seconds waited.</extracomment>
        <source>another Sablewick command has held the database for %1 s; try again later</source>
        <translation>ein anderer Sablewick-Befehl hält die Datenbank seit %1 s; versuchen Sie es später erneut</translation>
    </message>
    <message>
        <source>%1 takes no computers</source>
        <translation>%1 nimmt keine Computer an</translation>
    </message>
    <message>
        <source>The relay file %1 cannot be read.</source>
        <translation>Die Relay-Datei %1 kann nicht gelesen werden.</translation>
    </message>
    <message>
        <source>The relay file %1 cannot be written.</source>
        <translation>Die Relay-Datei %1 kann nicht geschrieben werden.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; cannot name a relay: a name is not empty, not General, and holds no / or \.</source>
        <translation>„%1“ ist kein gültiger Relay-Name: Ein Name darf nicht leer und nicht „General“ sein und kein / oder \ enthalten.</translation>
    </message>
    <message>
        <source>Relay %1 needs a destination that ssh accepts: a host, user@host or ssh://user@host:port.</source>
        <translation>Relay %1 braucht ein Ziel, das ssh annimmt: einen Host, user@host oder ssh://user@host:port.</translation>
    </message>
    <message>
        <source>Relay %1 serves no network; give at least one, such as 10.20.0.0/16.</source>
        <translation>Relay %1 bedient kein Netzwerk; geben Sie mindestens eines an, etwa 10.20.0.0/16.</translation>
    </message>
    <message>
        <source>Relay %1: &quot;%2&quot; is not a network; write it as 10.20.0.0/16.</source>
        <translation>Relay %1: „%2“ ist kein Netzwerk; schreiben Sie es wie 10.20.0.0/16.</translation>
    </message>
    <message>
        <source>Relay %1: the host key of %2 is not known or has changed. Connect once by hand (ssh %2) to check and accept it.</source>
        <translation>Relay %1: Der Hostschlüssel von %2 ist unbekannt oder hat sich geändert. Verbinden Sie sich einmal von Hand (ssh %2), um ihn zu prüfen und anzunehmen.</translation>
    </message>
    <message>
        <source>Relay %1: %2 refused the key. Install your public key there (ssh-copy-id %2) or add it to your agent.</source>
        <translation>Relay %1: %2 hat den Schlüssel abgelehnt. Installieren Sie dort Ihren öffentlichen Schlüssel (ssh-copy-id %2) oder fügen Sie ihn Ihrem Agenten hinzu.</translation>
    </message>
    <message>
        <source>Relay %1: %2 refused the connection; no SSH server answers there.</source>
        <translation>Relay %1: %2 hat die Verbindung abgelehnt; dort antwortet kein SSH-Server.</translation>
    </message>
    <message>
        <source>Relay %1: %2 cannot be reached (%3).</source>
        <translation>Relay %1: %2 ist nicht erreichbar (%3).</translation>
    </message>
    <message>
        <source>Relay %1: ssh failed (%2).</source>
        <translation>Relay %1: ssh ist fehlgeschlagen (%2).</translation>
    </message>
    <message>
        <source>no reason given</source>
        <translation>kein Grund angegeben</translation>
    </message>
    <message>
        <source>Relay %1 did not answer within %2 s.</source>
        <translation>Relay %1 hat nicht innerhalb von %2 s geantwortet.</translation>
    </message>
    <message>
        <source>Relay %1: the ssh program cannot be started (%2).</source>
        <translation>Relay %1: Das Programm ssh kann nicht gestartet werden (%2).</translation>
    </message>
    <message>
        <source>Relay %1 has no tool to send a wake-up: install wakeonlan or python3 there, or give the relay a command.</source>
        <translation>Relay %1 hat kein Werkzeug zum Aufwecken: Installieren Sie dort wakeonlan oder python3, oder geben Sie dem Relay einen Befehl.</translation>
    </message>
    <message>
        <source>Relay %1: the wake-up command failed (%2).</source>
        <translation>Relay %1: Der Weckbefehl ist fehlgeschlagen (%2).</translation>
    </message>
    <message>
        <source> (relay %1)</source>
        <translation> (Relay %1)</translation>
    </message>
    <message>
        <source>Through relay %1</source>
        <translation>Über Relay %1</translation>
    </message>
    <message>
        <source>%1 was not woken. %2</source>
        <translation>%1 wurde nicht aufgeweckt. %2</translation>
    </message>
    <message>
        <source>Relays</source>
        <translation>Relays</translation>
    </message>
    <message>
        <source>Destination</source>
        <translation>Ziel</translation>
    </message>
    <message>
        <source>Networks</source>
        <translation>Netzwerke</translation>
    </message>
    <message>
        <source>Command</source>
        <translation>Befehl</translation>
    </message>
    <message>
        <source>&amp;Add...</source>
        <translation>&amp;Hinzufügen...</translation>
    </message>
    <message>
        <source>&amp;Edit...</source>
        <translation>&amp;Bearbeiten...</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>&amp;Entfernen</translation>
    </message>
    <message>
        <source>&amp;Test</source>
        <translation>&amp;Testen</translation>
    </message>
    <message>
        <source>Relay</source>
        <translation>Relay</translation>
    </message>
    <message>
        <source>&amp;Name:</source>
        <translation>&amp;Name:</translation>
    </message>
    <message>
        <source>&amp;Destination:</source>
        <translation>&amp;Ziel:</translation>
    </message>
    <message>
        <source>Net&amp;works:</source>
        <translation>Netz&amp;werke:</translation>
    </message>
    <message>
        <source>&amp;Command:</source>
        <translation>&amp;Befehl:</translation>
    </message>
    <message>
        <source>Testing relay %1...</source>
        <translation>Relay %1 wird getestet...</translation>
    </message>
    <message>
        <source>Relay %1 answered in %2 ms; it wakes with %3 and checks with %4.</source>
        <translation>Relay %1 hat in %2 ms geantwortet; es weckt mit %3 und prüft mit %4.</translation>
    </message>
    <message>
        <source>Relay %1 answered in %2 ms, but has no tool to send a wake-up: install wakeonlan or python3 there, or give the relay a command.</source>
        <translation>Relay %1 hat in %2 ms geantwortet, hat aber kein Werkzeug zum Aufwecken: Installieren Sie dort wakeonlan oder python3, oder geben Sie dem Relay einen Befehl.</translation>
    </message>
    <message>
        <source>There is already a relay named %1.</source>
        <translation>Es gibt bereits ein Relay namens %1.</translation>
    </message>
    <message>
        <source>Lists, edits and tests the relays that reach other networks</source>
        <translation>Listet, bearbeitet und testet die Relays, die andere Netzwerke erreichen</translation>
    </message>
    <message>
        <source>Re&amp;lays...</source>
        <translation>Re&amp;lays...</translation>
    </message>
    <message>
        <source>List the relays of relays.conf and test each.</source>
        <translation>Die Relays aus relays.conf auflisten und jedes testen.</translation>
    </message>
    <message>
        <source>%1	%2	%3	%4</source>
        <translation>%1	%2	%3	%4</translation>
    </message>
    <message>
        <source>the wake-up for &quot;%1&quot; failed: %2</source>
        <translation>der Weckruf für „%1“ ist fehlgeschlagen: %2</translation>
    </message>
    <message>
        <source>&quot;%1&quot; could not be checked: %2</source>
        <translation>„%1“ konnte nicht geprüft werden: %2</translation>
    </message>
    <message>
        <source>no relays in %1</source>
        <translation>keine Relays in %1</translation>
    </message>
    <message>
        <source>Relay %1 sent more output than expected.</source>
        <translation>Relay %1 hat mehr Ausgabe gesendet als erwartet.</translation>
    </message>
    <message>
        <source>The connection to relay %1 was closed during the exchange (ssh exit status %2).</source>
        <translation>Die Verbindung zu Relay %1 wurde während des Austauschs geschlossen (Exit-Status von ssh: %2).</translation>
    </message>
    <message>
        <source>Relay %1: in &quot;%2&quot;, &quot;%3&quot; is not a prefix length; write a number from 0 to 32, as in 10.20.0.0/16.</source>
        <translation>Relay %1: In „%2“ ist „%3“ keine Präfixlänge; schreiben Sie eine Zahl von 0 bis 32, wie in 10.20.0.0/16.</translation>
    </message>
    <message>
        <source>The relay file has a second group [%1] (line %2); it is left out and the first one is used.</source>
        <translation>Die Relay-Datei hat eine zweite Gruppe [%1] (Zeile %2); sie wird ausgelassen, die erste gilt.</translation>
    </message>
    <message>
        <source>The group [%1] of the relay file (line %2) cannot name a relay; give it another name.</source>
        <translation>Die Gruppe [%1] der Relay-Datei (Zeile %2) kann kein Relay benennen; geben Sie ihr einen anderen Namen.</translation>
    </message>
    <message>
        <source>The database has no DBROOT storage.</source>
        <translation>Die Datenbank hat keinen DBROOT-Speicher.</translation>
    </message>
    <message>
        <source>The database has no DATA stream.</source>
        <translation>Die Datenbank hat keinen DATA-Stream.</translation>
    </message>
    <message>
        <source>The database&apos;s DATA stream is larger than the whole file.</source>
        <translation>Der DATA-Stream der Datenbank ist größer als die ganze Datei.</translation>
    </message>
    <message>
        <source>A stream of the file is larger than the whole file.</source>
        <translation>Ein Stream der Datei ist größer als die ganze Datei.</translation>
    </message>
    <message>
        <source>The magic packet could not be sent: %1.</source>
        <extracomment>%1: the system's reason, such as &quot;Network is unreachable&quot;.</extracomment>
        <translation>Das Magic Packet konnte nicht gesendet werden: %1.</translation>
    </message>
    <message>
        <source>The address of %1 was not found.</source>
        <translation>Die Adresse von %1 wurde nicht gefunden.</translation>
    </message>
    <message>
        <source>It has no MAC address to wake.</source>
        <translation>Er hat keine MAC-Adresse zum Aufwecken.</translation>
    </message>
    <message>
        <source>Woke %1 computers: %2</source>
        <extracomment>%1 how many computers, %2 the parts below, joined by commas.</extracomment>
        <translation>%1 Computer geweckt: %2</translation>
    </message>
    <message>
        <source>%1 answered within %2 s</source>
        <translation>%1 antworteten innerhalb von %2 s</translation>
    </message>
    <message>
        <source>%1 not yet</source>
        <translation>%1 noch nicht</translation>
    </message>
    <message>
        <source>%1 did not answer</source>
        <translation>%1 antworteten nicht</translation>
    </message>
    <message>
        <source>%1 cannot be checked</source>
        <translation>%1 nicht prüfbar</translation>
    </message>
    <message>
        <source>%1 not sent</source>
        <translation>%1 nicht gesendet</translation>
    </message>
    <message>
        <source>%1 (at %2)</source>
        <extracomment>A message and the time it was told.</extracomment>
        <translation>%1 (um %2)</translation>
    </message>
    <message>
        <source>Response from %1 on TCP port %2 (refused).</source>
        <extracomment>The reply of a check by TCP whose connection the host refused: %1 the address, %2 the port.</extracomment>
        <translation>Antwort von %1 auf TCP-Port %2 (abgelehnt).</translation>
    </message>
    <message>
        <source>No answer to ping: %1</source>
        <translation>Keine Antwort auf Ping: %1</translation>
    </message>
    <message>
        <source>No MAC address found for %1</source>
        <translation>Keine MAC-Adresse für %1 gefunden</translation>
    </message>
    <message>
        <source>Another computer is already named &quot;%1&quot;.</source>
        <translation>Ein anderer Computer heißt bereits „%1“.</translation>
    </message>
    <message>
        <source>The checked computers have not been added yet. Scan again and discard them?</source>
        <translation>Die markierten Computer wurden noch nicht hinzugefügt. Erneut suchen und sie verwerfen?</translation>
    </message>
    <message>
        <source>This moment has passed: the schedule will not wake anything.</source>
        <translation>Dieser Zeitpunkt ist vorbei: der Zeitplan weckt nichts.</translation>
    </message>
    <message>
        <source>Advanced</source>
        <translation>Erweitert</translation>
    </message>
    <message>
        <source>&amp;UDP port:</source>
        <translation>&amp;UDP-Port:</translation>
    </message>
    <message>
        <source>In Internet mode this must be the port your router forwards to the computer.</source>
        <translation>Im Internet-Modus muss dies der Port sein, den Ihr Router an den Computer weiterleitet.</translation>
    </message>
</context>
<context>
    <name>TfrmAbout</name>
    <message>
        <source>About Sablewick</source>
        <translation>Über Sablewick</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>TfrmComputer</name>
    <message>
        <source>Computer properties</source>
        <translation>Computereigenschaften</translation>
    </message>
    <message>
        <source>&amp;Auto-detect</source>
        <translation>&amp;Erkennen</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Local Area Network</source>
        <translation>Lokales Netzwerk</translation>
    </message>
    <message>
        <source>Internet</source>
        <translation>Internet</translation>
    </message>
    <message>
        <source>Network &amp;type:</source>
        <translation>Netzwerk&amp;typ:</translation>
    </message>
    <message>
        <source>Computer &amp;name:</source>
        <translation>Computer&amp;name:</translation>
    </message>
    <message>
        <source>&amp;IP Address:</source>
        <translation>&amp;IP-Adresse:</translation>
    </message>
    <message>
        <source>&amp;MAC-address:</source>
        <translation>&amp;MAC-Adresse:</translation>
    </message>
    <message>
        <source>Notes</source>
        <translation>Notizen</translation>
    </message>
</context>
<context>
    <name>TfrmMAC</name>
    <message>
        <source>MAC Address properties</source>
        <translation>Eigenschaften der MAC-Adresse</translation>
    </message>
    <message>
        <source>MAC Address:</source>
        <translation>MAC-Adresse:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>TfrmProgress</name>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
</TS>
