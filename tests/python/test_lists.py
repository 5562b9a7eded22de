"""What get_lists returns: shapes, order, values, and fresh objects on every call."""

import collections
import copy
import unittest

import korvel

ATTACKER_HISTOGRAM = {
    1: 273, 3: 718, 5: 555, 7: 346, 9: 842, 11: 1391, 13: 1771, 15: 2614,
    17: 2851, 19: 2950, 21: 2996, 23: 3135, 25: 3004, 27: 2714, 29: 1005, 31: 187,
}
DEFENDER_HISTOGRAM = {
    0: 39, 2: 113, 4: 327, 6: 116, 8: 282, 10: 652, 12: 793, 14: 897, 16: 1721,
    18: 2091, 20: 2482, 22: 3394, 24: 4225, 26: 5148, 28: 5728, 30: 2931, 32: 534,
    100: 17, 101: 3478,
}
TRIANGLE = {(0, 7), (1, 6), (1, 7), (2, 5), (2, 6), (2, 7), (3, 4), (3, 5), (3, 6), (3, 7)}


class ListsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.result = korvel.get_lists()
        cls.defender, cls.attacker = cls.result

    def test_a_tuple_of_two_lists_of_entries(self):
        self.assertIs(type(self.result), tuple)
        self.assertEqual(len(self.result), 2)
        self.assertEqual((len(self.defender), len(self.attacker)), (34968, 27352))
        for entry in self.defender + self.attacker:
            self.assertIs(type(entry), tuple)
            squares, value = entry
            self.assertIs(type(squares), list)
            self.assertIs(type(value), int)
            self.assertEqual(len(squares), 3)
            for square in squares:
                self.assertIs(type(square), tuple)
                self.assertEqual(len(square), 2)
                self.assertTrue(all(type(c) is int and 0 <= c < 8 for c in square), square)

    def test_first_and_last_entries(self):
        self.assertEqual(self.defender[0], ([(0, 7), (0, 0), (0, 1)], 20))
        self.assertEqual(self.defender[1][0], [(0, 7), (0, 0), (0, 2)])
        self.assertEqual(self.defender[-1], ([(3, 7), (7, 7), (7, 6)], 14))
        self.assertEqual(self.attacker[0], ([(0, 7), (0, 0), (1, 0)], 13))
        self.assertEqual(self.attacker[1][0], [(0, 7), (0, 0), (1, 1)])
        self.assertEqual(self.attacker[-1], ([(3, 7), (7, 7), (7, 6)], 15))

    def test_mate_length_distribution(self):
        self.assertEqual(dict(collections.Counter(v for _, v in self.attacker)), ATTACKER_HISTOGRAM)
        self.assertEqual(dict(collections.Counter(v for _, v in self.defender)), DEFENDER_HISTOGRAM)

    def test_every_position_is_legal_with_its_king_in_the_triangle(self):
        for squares, _ in self.defender + self.attacker:
            king, attacking_king, rook = squares
            self.assertIn(king, TRIANGLE)
            self.assertEqual(len(set(squares)), 3)
            self.assertGreater(max(abs(king[0] - attacking_king[0]), abs(king[1] - attacking_king[1])), 1)
        self.assertEqual(len({tuple(s) for s, _ in self.defender}), 34968)

    def test_changing_the_lists_changes_nothing_later(self):
        kept = copy.deepcopy(self.result)
        mine = korvel.get_lists()
        mine[0].clear()
        del mine[1][5:]
        mine[1][0][0][0] = (7, 7)
        mine[1][0][0].append((1, 1))
        again = korvel.get_lists()
        self.assertEqual(again, kept)
        self.assertEqual(self.result, kept)

    def test_every_call_returns_new_objects_with_the_same_content(self):
        first, second = korvel.get_lists(), korvel.get_lists()
        self.assertEqual(first, second)
        self.assertIsNot(first, second)
        for a, b in zip(first, second):
            self.assertIsNot(a, b)
            self.assertIsNot(a[0], b[0])
            self.assertIsNot(a[0][0], b[0][0])
            self.assertIsNot(a[-1][0][2], b[-1][0][2])


if __name__ == "__main__":
    unittest.main()
