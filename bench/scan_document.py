#!/usr/bin/env python3
# Writes a project document of about 5 MB to the path given: scenes of pictures, sounds in
# element text, comma lists. bench/install scans it, bench/check checks it.
import sys

with open(sys.argv[1], "w") as f:
    f.write('<?xml version="1.0" encoding="UTF-8"?>\n<Project>\n')
    i = 0
    while f.tell() < 5 * 1024 * 1024:
        f.write(' <SubProject>\n  <Name>Scene %d</Name>\n  <Entities>\n' % i)
        for j in range(40):
            k = i * 40 + j
            f.write('   <Entity Name="E%d" X="%d" Y="%d" Width="100" Height="100" Type="Picture" Filename="pictures\\p%d.png" Text="Item %d">\n' % (k, j * 30, j * 20, k % 3000, k))
            f.write('    <Code>Script_Click<ActionList><PlaySound><Text>sounds/s%d.mp3</Text></PlaySound>' % (k % 5000))
            if j % 10 == 0:
                f.write('<PlayList><Text>sounds/a%d.mp3,sounds/b%d.mp3,sounds/c%d.wav</Text></PlayList>' % (k, k, k))
            f.write('</ActionList></Code>\n   </Entity>\n')
        f.write('  </Entities>\n </SubProject>\n')
        i += 1
    f.write('</Project>\n')
